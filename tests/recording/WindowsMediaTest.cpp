// Windows Media recordings: the writer's states and messages, and the files as FFmpeg reads them.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "recording/VideoWriter.h"

namespace quillon {
namespace {

using namespace test;

// Times come from the frame count and the rate, in whole milliseconds rounded down; key frames
// fall on frames 0, 25, 50, ... whatever the rate, even in noise where each frame looks like a
// scene cut. Every frame is offered twice: only every-frame recordings keep the repeats, and they
// have no frame-time trailer.
TEST(WindowsMedia, SampleTimesFollowTheRateAndKeyFramesFallEvery25) {
    TempDir dir;
    for (const auto& [rate, everyFrame] :
         {std::pair{25u, false}, std::pair{3u, false}, std::pair{25u, true}}) {
        SCOPED_TRACE(std::to_string(rate) + (everyFrame ? " every frame" : ""));
        const std::string path =
            dir.File(std::to_string(rate) + std::to_string(everyFrame) + ".wmv");
        {
            CQuillonFile recording(path, rate, 96, 64);
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
        const Bytes file = ReadBytes(path);
        EXPECT_EQ(std::string(file.end() - 5, file.end()) == "VLWMV", !everyFrame);
    }
}

// Four coloured quarters, 129 x 97 pixels: the encoder's width is even, so the last column is
// left out; an odd height is kept.
TEST(WindowsMedia, PictureIsUprightWithItsColoursForEachInputDepth) {
    TempDir dir;
    const uint8_t colours[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}}; // BGR
    for (const uint32_t depth : {3u, 4u}) {
        SCOPED_TRACE(depth);
        Bytes frame(129 * 97 * depth);
        for (uint32_t y = 0; y < 97; ++y)
            for (uint32_t x = 0; x < 129; ++x)
                std::copy_n(colours[(y >= 48) * 2 + (x >= 64)], 3, &frame[(y * 129 + x) * depth]);
        const std::string path = dir.File(std::to_string(depth) + ".wmv");
        {
            CQuillonFile recording(path, 25, 129, 97);
            recording.WriteFrame(129, 97, frame.data(), uint16_t(depth * 8), 0, 1);
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

TEST(VideoWriterStates, StartsReadyAndCountsSampleTimesFromTheRate) {
    TempDir dir;
    LocalFileOutput output(dir.File("writer.wmv"));
    CVideoWriter writer;
    EXPECT_TRUE(writer.HasSucceeded());
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, nullptr, 24), CVideoWriter::kFailure);

    std::string wide = "/tmp/"; // 1000 two-byte characters: 1000 UTF-16 units, which fits
    for (int i = 0; i < 1000; ++i)
        wide += "\xC3\xA9";
    writer.StartRecording(wide, &output, 3, 64, 48);
    ASSERT_EQ(writer.GetState(), CVideoWriter::kStarted) << writer.m_szLastError;
    const Bytes frame = Frame(64, 48, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kSuccess);
    EXPECT_EQ(writer.GetState(), CVideoWriter::kWriting);
    EXPECT_EQ(writer.GetFramesWritten(), 3u);
    writer.Finish();
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_TRUE(writer.HasSucceeded());
}

// Each failure names its step, ends the recording and refuses every later frame.
TEST(VideoWriterStates, FailuresNameTheStepAndEndTheRecording) {
    TempDir dir;
    // {file name, depths of the frames offered, error, frames counted (the failed one too)}
    const std::tuple<std::string, std::vector<uint16_t>, const char*, uint32_t> cases[] = {
        // A path beyond 1024 UTF-16 units.
        {std::string(1100, 'x') + ".wmv", {}, "Unable to Convert Output Filename", 0},
        {"no/such/folder/x.wmv", {}, "Unable to Set Output Filename", 0},
        {"a.wmv", {12}, "Unable to Set Media Type", 0},
        // A frame of another depth than the first.
        {"b.wmv", {24, 32}, "Unable to Write Frame", 2},
    };
    const Bytes frame(64 * 48 * 4, 0x40);
    for (const auto& [name, depths, error, frames] : cases) {
        SCOPED_TRACE(error);
        LocalFileOutput output(dir.File(name));
        CVideoWriter writer;
        writer.StartRecording(dir.File(name), &output, 25, 64, 48);
        for (const uint16_t depth : depths)
            writer.WriteVideoFrame(64, 48, frame.data(), depth);
        EXPECT_STREQ(writer.m_szLastError, error);
        EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
        EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kFailure);
        EXPECT_EQ(writer.GetFramesWritten(), frames);
    }
}

TEST(VideoWriterStates, FailedWriteEndsTheVideoLeavingWholeFramesBehind) {
    TempDir dir;
    SizeLimitedOutput limited(dir.File("full.wmv"), 40000);
    CVideoWriter writer;
    writer.StartRecording(dir.File("full.wmv"), &limited, 25, 96, 64);
    uint32_t accepted = 0;
    while (writer.WriteVideoFrame(96, 64, Frame(96, 64, accepted).data(), 24) ==
           CVideoWriter::kSuccess)
        ++accepted;
    EXPECT_STREQ(writer.m_szLastError, "Unable to Write Frame");
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_EQ(writer.GetFramesWritten(), accepted + 1);
    limited.Close();
    EXPECT_LE(FileSize(dir.File("full.wmv")), 40000u);
    const int decoded = DecodedFrames(dir.File("full.wmv"));
    EXPECT_GE(decoded, 1);
    EXPECT_LE(decoded, int(accepted));
}

} // namespace
} // namespace quillon
