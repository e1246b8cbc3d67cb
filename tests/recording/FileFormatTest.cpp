// The files each kind of recording leaves, byte for byte and as FFmpeg, the outside reader, sees
// them; and the Windows Media writer's states and messages.

#include "TestSupport.h"
#include "recording/AviWriter.h"

namespace quillon::test {
namespace {

TEST(AviFile, ReadersSeeEveryFrameUprightAndTheHeadersHoldTheFormatInOneRiffSegmentOrMore) {
    TempDir dir;
    for (const uint32_t width : {64u, 33u}) { // 33 pixels make 99-byte rows, padded to 100
        SCOPED_TRACE(width);
        const std::string path = dir.File(std::to_string(width) + ".avi");
        Bytes offered;
        {
            CQuillonFile recording(path, 25, width, 17);
            offered = Offer(recording, width, 17, 5);
            // Frames that do not match the stream's format are refused.
            recording.WriteFrame(8, 8, offered.data(), 24, 9000, 10);
            recording.WriteFrame(width, 17, offered.data(), 32, 9000, 11);
            EXPECT_EQ(recording.GetFramesWritten(), 5u);
            EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
        }
        // The timing stream is a text stream, a subtitle stream to FFmpeg.
        const std::string streams =
            Probe(path, "-count_packets -of csv=p=0 -show_entries stream=codec_type,codec_name,"
                        "pix_fmt,width,height,r_frame_rate,nb_frames,nb_read_packets:stream_tags");
        EXPECT_EQ(Lines(streams),
                  (std::vector<std::string>{"rawvideo,video," + std::to_string(width) +
                                                ",17,bgr24,25/1,5,5,Video Stream",
                                            "unknown,subtitle,N/A,N/A,0/0,5,5,Timing Stream"}));
        EXPECT_EQ(DecodeBgr(path), offered);
        // Both stream headers as quillon-inspect lists them: the video with no handler, its
        // frame rectangle, the timing stream drawn below the picture. The bitmap: one plane of 24
        // bits, a positive height for bottom-up rows; stream names whose size counts the name and
        // its zero, not the pad byte after it.
        const CommandResult check = Inspect("--check " + Quote(path));
        EXPECT_EQ(check.exitCode, 0) << check.output;
        const std::string w = std::to_string(width), rect = std::to_string(width * 17 * 4);
        for (const std::string& line :
             {"stream 0: 'vids' handler '....', scale 1, rate 25, length 5, suggested buffer " +
                  rect + ", quality -1, frame (0,0," + w + ",17), name \"Video Stream\"",
              "stream 1: 'txts' handler 'DRAW', scale 1, rate 25, length 5, suggested buffer 4, "
              "quality 0, frame (0,17," +
                  w + ",37), name \"Timing Stream\"",
              std::string("  format: 4 bytes, value 4")})
            EXPECT_TRUE(HasLine(check.output, line)) << line << " in\n" << check.output;
        const Bytes file = ReadBytes(path);
        const std::string text(file.begin(), file.end());
        for (const std::string& chunk :
             {"strf" + Le(40, 4) + Le(40, 4) + Le(width, 4) + Le(17, 4) + Le(1, 2) + Le(24, 2) +
                  Le(0, 4) + Le((width == 33 ? 100 : 192) * 17, 4),
              "strn" + Le(13, 4) + "Video Stream", "strn" + Le(14, 4) + "Timing Stream"})
            EXPECT_NE(text.find(chunk), std::string::npos) << chunk;
        // The legacy index closes the file: 16 bytes per chunk, every chunk a key frame, or
        // readers that seek by it find nothing to start from.
        const size_t index = text.rfind("idx1");
        ASSERT_EQ(GetLe32(&file[index + 4]), 5u * 2 * 16);
        for (size_t entry = index + 8; entry < index + 8 + 5 * 2 * 16; entry += 16)
            EXPECT_EQ(GetLe32(&file[entry + 4]), 0x10u) << "index entry at " << entry;
    }
    // Segments of two frames make a small OpenDML file (three RIFF segments) that both readers
    // take whole, frames in order: the segment change without writing a gibibyte.
    const std::string path = dir.File("segments.avi");
    const Bytes frames = Frames(8, 4, 6);
    {
        LocalFileOutput output(path);
        AviWriter writer(output, 2);
        ASSERT_TRUE(writer.Create(25, 8, 4));
        for (uint32_t i = 0; i < 6; ++i)
            ASSERT_TRUE(writer.WriteFrame(8, 4, &frames[8 * 4 * 3 * i], 24, 1000 + 40 * i));
        writer.Finish();
        ASSERT_TRUE(output.Close());
    }
    EXPECT_EQ(DecodeBgr(path), frames);
    const CommandResult check = Inspect("--check " + Quote(path));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_TRUE(HasLine(check.output, "RIFF segments: 3 (OpenDML, 6 frames in dmlh)"))
        << check.output;
}

// The container: its header, a white opening frame with time 1, then for each frame its first
// width x height bytes and its time, little-endian. A frame of another size is left out, or a
// reader would lose every frame after it. Without frames, an AVI file still has both streams and
// no samples, and a Windows Media file is nothing but the nine trailer bytes.
TEST(RecordingFile, VlvHoldsHeaderOpeningFramePixelsAndTimesAndEmptyFilesKeepTheirKind) {
    TempDir dir;
    for (const char* name : {"e.vlv", "e.avi", "e.wmv"})
        CQuillonFile(dir.File(name), 300, 640, 480); // made and finished at once
    Bytes empty = {0x00, 0x00, 0x00, 0x16, 0x01, 0x00, 0x00, 0x02, 0x02, 0x80, 0x02,
                   0x00, 0x00, 0x02, 0x01, 0xE0, 0x03, 0x00, 0x00, 0x02, 0x01, 0x2C};
    empty.resize(22 + 640 * 480, 0xFF);
    empty.insert(empty.end(), {1, 0, 0, 0});
    EXPECT_TRUE(ReadBytes(dir.File("e.vlv")) == empty);
    EXPECT_EQ(Lines(Probe(dir.File("e.avi"), "-show_entries stream=codec_type -of csv=p=0")),
              (std::vector<std::string>{"video", "subtitle"}));
    EXPECT_TRUE(DecodeBgr(dir.File("e.avi")).empty());
    EXPECT_EQ(ReadBytes(dir.File("e.wmv")), (Bytes{0, 0, 0, 0, 'V', 'L', 'W', 'M', 'V'}));

    const Bytes grey = {0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB};
    const Bytes colour = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    {
        CQuillonFile recording(dir.File("race.vlv"), 25, 3, 2);
        recording.WriteFrame(3, 2, grey.data(), 8, 1000, 1);
        recording.WriteFrame(3, 2, colour.data(), 24, 0x01020304, 2);
        recording.WriteFrame(2, 2, grey.data(), 8, 5, 3); // another size
        EXPECT_EQ(recording.GetFramesWritten(), 2u);
    }
    const Bytes file = ReadBytes(dir.File("race.vlv")); // after the header and opening frame
    ASSERT_GE(file.size(), 32u);
    EXPECT_EQ(Bytes(file.begin() + 32, file.end()),
              (Bytes{0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB, 0xE8, 0x03, 0x00, 0x00, //
                     1,    2,    3,    4,    5,    6,    0x04, 0x03, 0x02, 0x01}));
}

// Times come from the frame count and the rate, in whole milliseconds rounded down; key frames
// fall on frames 0, 25, 50, ... whatever the rate, even in noise where each frame looks like a
// scene cut. Every frame is offered twice: only every-frame recordings keep the repeats; the
// others end with every frame's time in the frame-time trailer.
TEST(WindowsMedia, TimesFollowTheRateKeyFramesFallEvery25AndThePictureIsUprightInItsColours) {
    TempDir dir;
    for (const auto& [rate, everyFrame] :
         {std::pair{25u, false}, std::pair{3u, false}, std::pair{25u, true}}) {
        SCOPED_TRACE(std::to_string(rate) + (everyFrame ? " every frame" : ""));
        const std::string path =
            dir.File(std::to_string(rate) + std::to_string(everyFrame) + ".wmv");
        {
            CQuillonFile recording(path, rate, 96, 64);
            recording.SetFailureSink([](const std::string& error) { ADD_FAILURE() << error; });
            if (everyFrame)
                recording.SetEveryFrame();
            Offer(recording, 96, 64, 60);
            Offer(recording, 96, 64, 60);
        }
        const std::vector<Packet> packets = Packets(path);
        ASSERT_EQ(packets.size(), everyFrame ? 120u : 60u);
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].ms, long(i * 1000 / rate)) << "frame " << i;
            EXPECT_EQ(packets[i].key, i % 25 == 0) << "frame " << i;
        }
        EXPECT_EQ(DecodedFrames(path), int(packets.size())); // a trailer does not disturb it
        std::string trailer; // every frame's time, their count, "VLWMV"
        for (uint32_t i = 0; i < 60; ++i)
            trailer += Le(1000 + 40 * i, 4);
        const Bytes file = ReadBytes(path);
        EXPECT_EQ(std::string(file.end() - long(trailer.size() + 9), file.end()) ==
                      trailer + Le(60, 4) + "VLWMV",
                  !everyFrame);
    }
    // Then four coloured quarters, 129 x 97 pixels: the encoder's width is even, so the last column
    // is left out; an odd height is kept. The recording's name of 1000 two-byte characters makes
    // 1009 UTF-16 units, which fit.
    std::string name = "/tmp/";
    for (int i = 0; i < 1000; ++i)
        name += "\xC3\xA9";
    const uint8_t colours[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}}; // BGR
    for (const uint32_t depth : {3u, 4u}) {
        SCOPED_TRACE(depth);
        Bytes frame(129 * 97 * depth);
        for (uint32_t y = 0; y < 97; ++y)
            for (uint32_t x = 0; x < 129; ++x)
                std::copy_n(colours[(y >= 48) * 2 + (x >= 64)], 3, &frame[(y * 129 + x) * depth]);
        const std::string path = dir.File(std::to_string(depth) + ".wmv");
        {
            CQuillonFile recording(name + ".wmv", 25, 129, 97,
                                   std::make_unique<LocalFileOutput>(path));
            recording.WriteFrame(129, 97, frame.data(), uint16_t(depth * 8), 0, 1);
            EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
        }
        EXPECT_EQ(DecodedFrames(path), 1);
        const Bytes picture = DecodeBgr(path);
        ASSERT_EQ(picture.size(), 128u * 97 * 3);
        for (int quarter = 0; quarter < 4; ++quarter) // the middle of each quarter
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(
                    picture[((24 + quarter / 2 * 48) * 128 + 32 + quarter % 2 * 64) * 3 + c],
                    colours[quarter][c], 60)
                    << "quarter " << quarter << " channel " << c;
    }
}

} // namespace
} // namespace quillon::test
