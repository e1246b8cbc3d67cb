// Windows Media recordings: the writer's states and messages, and the files as FFmpeg reads them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "TestSupport.h"
#include "recording/QuillonFile.h"
#include "recording/VideoWriter.h"

namespace quillon {
namespace {

using test::Field;
using test::Quote;
using test::RunCommand;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

struct Packet {
    long timeMs;
    bool key;
};

std::vector<Packet> ReadPackets(const std::string& path) {
    test::CommandResult r = RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                       "packet=pts_time,flags -of csv=p=0 " +
                                       Quote(path));
    EXPECT_EQ(r.exitCode, 0);
    std::vector<Packet> packets;
    for (const std::string& line : test::Lines(r.output)) {
        const size_t comma = line.find(',');
        packets.push_back({std::lround(std::atof(line.substr(0, comma).c_str()) * 1000),
                           line.substr(comma + 1, 1) == "K"});
    }
    return packets;
}

class WindowsMedia : public ::testing::Test {
protected:
    // Noise frames: the hardest case for key frame placement, as each looks like a scene cut.
    void Record(const std::string& path, uint32_t rate, uint32_t frames) {
        CQuillonFile recording(path, rate, 96, 64);
        for (uint32_t i = 0; i < frames; ++i)
            recording.WriteFrame(96, 64, test::NoiseFrame(96, 64, i).data(), 24, 5000 + i, i + 1);
        EXPECT_EQ(recording.GetFramesWritten(), frames);
        EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
    }

    TempDir dir;
};

// Times come from the frame count and the rate, in whole milliseconds rounded down; key frames
// fall on frames 0, 25, 50, ... whatever the rate.
TEST_F(WindowsMedia, SampleTimesFollowTheRateAndKeyFramesFallEvery25) {
    for (const uint32_t rate : {25u, 3u}) {
        SCOPED_TRACE(rate);
        const std::string path = dir.File("race" + std::to_string(rate) + ".wmv");
        Record(path, rate, 60);
        const std::vector<Packet> packets = ReadPackets(path);
        ASSERT_EQ(packets.size(), 60u);
        for (size_t i = 0; i < packets.size(); ++i) {
            EXPECT_EQ(packets[i].timeMs, long(i * 1000 / rate)) << "frame " << i;
            EXPECT_EQ(packets[i].key, i % 25 == 0) << "frame " << i;
        }
        EXPECT_EQ(test::DecodedFrames(path), 60); // the frame-time trailer does not disturb it
    }
}

TEST_F(WindowsMedia, EveryFrameRecordingDecodesWholeAndHasNoTrailer) {
    const std::string path = dir.File("race.wmv");
    {
        CQuillonFile recording(path, 25, 96, 64);
        recording.SetEveryFrame();
        for (uint32_t i = 0; i < 30; ++i) // repeats are kept here
            recording.WriteFrame(96, 64, test::NoiseFrame(96, 64, i).data(), 24, 0, 1);
        EXPECT_EQ(recording.GetFramesWritten(), 30u);
    }
    EXPECT_EQ(test::DecodedFrames(path), 30);
    const std::vector<uint8_t> file = test::ReadBytes(path); // and no frame-time trailer
    EXPECT_NE(std::string(file.end() - 5, file.end()), "VLWMV");
}

// Mean of one colour channel over a quarter of a decoded BGR picture.
double QuarterMean(const Bytes& picture, uint32_t width, uint32_t height, bool top, bool left,
                   int channel) {
    double sum = 0;
    uint32_t count = 0;
    for (uint32_t y = top ? 0 : height / 2; y < (top ? height / 2 : height); ++y)
        for (uint32_t x = left ? 0 : width / 2; x < (left ? width / 2 : width); ++x, ++count)
            sum += picture[(size_t(y) * width + x) * 3 + size_t(channel)];
    return sum / count;
}

TEST_F(WindowsMedia, PictureIsUprightWithItsColoursForEachInputDepth) {
    for (uint32_t bytesPerPixel : {3u, 4u}) {
        const std::string path = dir.File("quarters" + std::to_string(bytesPerPixel) + ".wmv");
        const Bytes frame = test::QuarterFrame(128, 96, bytesPerPixel);
        {
            CQuillonFile recording(path, 25, 128, 96);
            recording.WriteFrame(128, 96, frame.data(), uint16_t(bytesPerPixel * 8), 0, 1);
        }
        const Bytes picture = test::DecodeBgr(path);
        ASSERT_EQ(picture.size(), 128u * 96 * 3);
        const int blue = 0, green = 1, red = 2;
        SCOPED_TRACE(bytesPerPixel);
        EXPECT_GT(QuarterMean(picture, 128, 96, true, true, red), 200);
        EXPECT_LT(QuarterMean(picture, 128, 96, true, true, blue), 60);
        EXPECT_GT(QuarterMean(picture, 128, 96, true, false, green), 200);
        EXPECT_LT(QuarterMean(picture, 128, 96, true, false, red), 60);
        EXPECT_GT(QuarterMean(picture, 128, 96, false, true, blue), 200);
        EXPECT_LT(QuarterMean(picture, 128, 96, false, true, green), 60);
        EXPECT_GT(QuarterMean(picture, 128, 96, false, false, green), 200);
    }
}

TEST_F(WindowsMedia, OddWidthIsEncodedOneColumnNarrower) {
    const std::string path = dir.File("odd.wmv");
    {
        CQuillonFile recording(path, 25, 65, 33);
        const Bytes frame = test::PatternFrame(65, 33, 0);
        recording.WriteFrame(65, 33, frame.data(), 24, 0, 1);
        EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
    }
    const std::string streams = test::Probe(path, "-show_entries stream=width,height");
    EXPECT_EQ(Field(streams, "width"), "64");
    EXPECT_EQ(Field(streams, "height"), "33");
    EXPECT_EQ(test::DecodedFrames(path), 1);
}

class VideoWriterStates : public ::testing::Test {
protected:
    TempDir dir;
    LocalFileOutput output{dir.File("writer.wmv")};
    CVideoWriter writer;
};

TEST_F(VideoWriterStates, StartsReadyAndCountsSampleTimesFromTheRate) {
    EXPECT_TRUE(writer.HasSucceeded());
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, nullptr, 24), CVideoWriter::kFailure);

    writer.StartRecording(dir.File("writer.wmv"), &output, 3, 64, 48);
    ASSERT_EQ(writer.GetState(), CVideoWriter::kStarted) << writer.m_szLastError;
    const Bytes frame = test::PatternFrame(64, 48, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kSuccess);
    EXPECT_EQ(writer.GetState(), CVideoWriter::kWriting);
    EXPECT_EQ(writer.GetFramesWritten(), 3u);
    EXPECT_EQ(writer.GetNextSampleTime(), 1000u);
    writer.Finish();
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_TRUE(writer.HasSucceeded());
}

TEST_F(VideoWriterStates, FirstFrameOfTwelveBitsHasNoInputTypeAndEndsTheRecording) {
    writer.StartRecording(dir.File("writer.wmv"), &output, 25, 64, 48);
    const Bytes frame(64 * 48 * 4, 0);
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 12), CVideoWriter::kFailure);
    EXPECT_STREQ(writer.m_szLastError, "Unable to Set Media Type");
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kFailure);
}

TEST_F(VideoWriterStates, FrameOfAnotherDepthThanTheFirstFailsAndLaterFramesAreRefused) {
    writer.StartRecording(dir.File("writer.wmv"), &output, 25, 64, 48);
    const Bytes frame(64 * 48 * 4, 0x40);
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kSuccess);
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 32), CVideoWriter::kFailure);
    EXPECT_STREQ(writer.m_szLastError, "Unable to Write Frame");
    EXPECT_EQ(writer.GetFramesWritten(), 2u); // the failed frame still counts
    EXPECT_EQ(writer.WriteVideoFrame(64, 48, frame.data(), 24), CVideoWriter::kFailure);
    EXPECT_EQ(writer.GetFramesWritten(), 2u);
    EXPECT_EQ(test::DecodedFrames(dir.File("writer.wmv")), 1);
}

TEST_F(VideoWriterStates, PathBeyond1024Utf16UnitsCannotBeConverted) {
    const std::string longPath = "/tmp/" + std::string(1100, 'x') + ".wmv";
    writer.StartRecording(longPath, &output, 25, 64, 48);
    EXPECT_STREQ(writer.m_szLastError, "Unable to Convert Output Filename");
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);

    std::string wide; // 1000 two-byte characters: 1000 units, which fits
    for (int i = 0; i < 1000; ++i)
        wide += "\xC3\xA9";
    writer.StartRecording("/tmp/" + wide, &output, 25, 64, 48);
    EXPECT_EQ(writer.GetState(), CVideoWriter::kStarted) << writer.m_szLastError;
}

TEST_F(VideoWriterStates, OutputThatCannotBeOpenedFailsTheOutputName) {
    LocalFileOutput missing(dir.File("no/such/folder/x.wmv"));
    writer.StartRecording(dir.File("no/such/folder/x.wmv"), &missing, 25, 64, 48);
    EXPECT_STREQ(writer.m_szLastError, "Unable to Set Output Filename");
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
}

TEST_F(VideoWriterStates, FailedWriteEndsTheVideoLeavingWholeFramesBehind) {
    test::SizeLimitedOutput limited(dir.File("full.wmv"), 40000);
    writer.StartRecording(dir.File("full.wmv"), &limited, 25, 96, 64);
    uint32_t accepted = 0;
    while (writer.WriteVideoFrame(96, 64, test::NoiseFrame(96, 64, accepted).data(), 24) ==
           CVideoWriter::kSuccess)
        ++accepted;
    EXPECT_STREQ(writer.m_szLastError, "Unable to Write Frame");
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_EQ(writer.GetFramesWritten(), accepted + 1);
    limited.Close();
    EXPECT_LE(test::FileSize(dir.File("full.wmv")), 40000u);
    const int decoded = test::DecodedFrames(dir.File("full.wmv"));
    EXPECT_GE(decoded, 1);
    EXPECT_LE(decoded, int(accepted));
}

} // namespace
} // namespace quillon
