// Windows Media recordings: the writer's states and messages, and the files as FFmpeg reads them.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "recording/VideoWriter.h"

namespace quillon {
namespace {

using namespace test;

// Times come from the frame count and the rate, in whole milliseconds rounded down; key frames
// fall on frames 0, 25, 50, ... whatever the rate, even in noise where each frame looks like a
// scene cut.
TEST(WindowsMedia, SampleTimesFollowTheRateAndKeyFramesFallEvery25) {
    TempDir dir;
    for (const uint32_t rate : {25u, 3u}) {
        SCOPED_TRACE(rate);
        const std::string path = dir.File("race" + std::to_string(rate) + ".wmv");
        {
            CQuillonFile recording(path, rate, 96, 64);
            Offer(recording, 96, 64, 60, true);
        }
        const std::vector<Packet> packets = Packets(path);
        ASSERT_EQ(packets.size(), 60u);
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].ms, long(i * 1000 / rate)) << "frame " << i;
            EXPECT_EQ(packets[i].key, i % 25 == 0) << "frame " << i;
        }
        EXPECT_EQ(DecodedFrames(path), 60); // the frame-time trailer does not disturb it
    }
}

TEST(WindowsMedia, EveryFrameRecordingKeepsRepeatsDecodesWholeAndHasNoTrailer) {
    TempDir dir;
    const std::string path = dir.File("race.wmv");
    {
        CQuillonFile recording(path, 25, 96, 64);
        recording.SetEveryFrame();
        for (uint32_t i = 0; i < 30; ++i)
            recording.WriteFrame(96, 64, NoiseFrame(96, 64, i).data(), 24, 0, 1);
        EXPECT_EQ(recording.GetFramesWritten(), 30u);
    }
    EXPECT_EQ(DecodedFrames(path), 30);
    const Bytes file = ReadBytes(path);
    EXPECT_NE(std::string(file.end() - 5, file.end()), "VLWMV");
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
    const Bytes frame = PatternFrame(64, 48, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kSuccess);
    EXPECT_EQ(writer.GetState(), CVideoWriter::kWriting);
    EXPECT_EQ(writer.GetFramesWritten(), 3u);
    EXPECT_EQ(writer.GetNextSampleTime(), 1000u);
    writer.Finish();
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_TRUE(writer.HasSucceeded());
}

// Each failure names its step, ends the recording and refuses every later frame.
TEST(VideoWriterStates, FailuresNameTheStepAndEndTheRecording) {
    TempDir dir;
    const struct {
        const char* what;
        std::string name;
        std::vector<uint16_t> depths; // of the frames offered
        const char* error;
        uint32_t framesWritten; // the failed frame counts too
    } cases[] = {
        {"path beyond 1024 UTF-16 units",
         std::string(1100, 'x') + ".wmv",
         {},
         "Unable to Convert Output Filename",
         0},
        {"output that cannot be opened",
         "no/such/folder/x.wmv",
         {},
         "Unable to Set Output Filename",
         0},
        {"first frame of 12 bits", "a.wmv", {12}, "Unable to Set Media Type", 0},
        {"frame of another depth than the first", "b.wmv", {24, 32}, "Unable to Write Frame", 2},
    };
    const Bytes frame(64 * 48 * 4, 0x40);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LocalFileOutput output(dir.File(c.name));
        CVideoWriter writer;
        writer.StartRecording(dir.File(c.name), &output, 25, 64, 48);
        for (const uint16_t depth : c.depths)
            writer.WriteVideoFrame(64, 48, frame.data(), depth);
        EXPECT_STREQ(writer.m_szLastError, c.error);
        EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
        EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kFailure);
        EXPECT_EQ(writer.GetFramesWritten(), c.framesWritten);
    }
}

TEST(VideoWriterStates, FailedWriteEndsTheVideoLeavingWholeFramesBehind) {
    TempDir dir;
    SizeLimitedOutput limited(dir.File("full.wmv"), 40000);
    CVideoWriter writer;
    writer.StartRecording(dir.File("full.wmv"), &limited, 25, 96, 64);
    uint32_t accepted = 0;
    while (writer.WriteVideoFrame(96, 64, NoiseFrame(96, 64, accepted).data(), 24) ==
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
