// Windows Media recordings: the writer's states and messages, and the files as FFmpeg reads them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

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

// Noise frames: the hardest case for key frame placement, as every frame looks like a scene cut.
class NoiseFrames {
public:
    NoiseFrames(uint32_t width, uint32_t height) : m_frame(size_t(width) * height * 3) {}
    const uint8_t* Next() {
        for (uint8_t& b : m_frame)
            b = static_cast<uint8_t>(m_random());
        return m_frame.data();
    }

private:
    std::vector<uint8_t> m_frame;
    std::minstd_rand m_random{7};
};

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

// Decodes every frame; fails on any decoder complaint. Returns the number of frames.
int DecodeWhole(const std::string& path) {
    test::CommandResult r =
        RunCommand("ffmpeg -v error -xerror -i " + Quote(path) + " -map 0:v -f framecrc - 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    int frames = 0;
    for (const std::string& line : test::Lines(r.output)) {
        EXPECT_EQ(line.find("rror"), std::string::npos) << line;
        frames += line[0] != '#';
    }
    return frames;
}

class WindowsMedia : public ::testing::Test {
protected:
    void SetUp() override { CQuillonFile::ResetAdmission(); }

    void Record(const std::string& path, uint32_t rate, uint32_t frames) {
        CQuillonFile recording(path, rate, 96, 64);
        NoiseFrames noise(96, 64);
        for (uint32_t i = 0; i < frames; ++i)
            recording.WriteFrame(96, 64, noise.Next(), 24, 5000 + i, i + 1);
        EXPECT_EQ(recording.GetFramesWritten(), frames);
        EXPECT_FALSE(recording.HasFailed()) << recording.GetLastError();
    }

    TempDir dir;
};

TEST_F(WindowsMedia, AtTwentyFiveFramesPerSecondTimesStepBy40AndKeyFramesFallEvery25) {
    const std::string path = dir.File("race.wmv");
    Record(path, 25, 60);
    const std::vector<Packet> packets = ReadPackets(path);
    ASSERT_EQ(packets.size(), 60u);
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].timeMs, long(40 * i)) << "frame " << i;
        EXPECT_EQ(packets[i].key, i % 25 == 0) << "frame " << i;
    }
    EXPECT_EQ(DecodeWhole(path), 60); // the frame-time trailer does not disturb the reader
}

TEST_F(WindowsMedia, AtThreeFramesPerSecondTimesAreWholeMillisecondsRoundedDown) {
    const std::string path = dir.File("race.wmv");
    Record(path, 3, 27);
    const std::vector<Packet> packets = ReadPackets(path);
    ASSERT_EQ(packets.size(), 27u);
    const long expected[] = {0, 333, 666, 1000, 1333};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(packets[i].timeMs, expected[i]);
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].key, i % 25 == 0) << "frame " << i;
}

TEST_F(WindowsMedia, EveryFrameRecordingDecodesWhole) {
    const std::string path = dir.File("race.wmv");
    {
        CQuillonFile recording(path, 25, 96, 64);
        recording.SetEveryFrame();
        NoiseFrames noise(96, 64);
        for (uint32_t i = 0; i < 30; ++i)
            recording.WriteFrame(96, 64, noise.Next(), 24, 0, 1); // repeats are kept here
        EXPECT_EQ(recording.GetFramesWritten(), 30u);
    }
    EXPECT_EQ(DecodeWhole(path), 30);
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
        CQuillonFile::ResetAdmission();
        const std::string path = dir.File("quarters" + std::to_string(bytesPerPixel) + ".wmv");
        const Bytes frame = test::QuarterFrame(128, 96, bytesPerPixel);
        {
            CQuillonFile recording(path, 25, 128, 96);
            recording.WriteFrame(128, 96, frame.data(), uint16_t(bytesPerPixel * 8), 0, 1);
        }
        test::CommandResult r = RunCommand("ffmpeg -v error -i " + Quote(path) +
                                           " -map 0:v -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
        ASSERT_EQ(r.output.size(), 128u * 96 * 3);
        const Bytes picture(r.output.begin(), r.output.end());
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
    test::CommandResult r =
        RunCommand("ffprobe -v error -show_entries stream=width,height " + Quote(path));
    EXPECT_EQ(Field(r.output, "width"), "64");
    EXPECT_EQ(Field(r.output, "height"), "33");
    EXPECT_EQ(DecodeWhole(path), 1);
}

class VideoWriterStates : public ::testing::Test {
protected:
    TempDir dir;
    LocalFileOutput output{dir.File("writer.wmv")};
    CVideoWriter writer;
};

TEST_F(VideoWriterStates, StartsReadyAndCountsSampleTimesFromTheRate) {
    EXPECT_STREQ(writer.m_szLastError, "Method Succeeded");
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
    EXPECT_STREQ(writer.m_szLastError, "Method Succeeded");
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
    EXPECT_EQ(DecodeWhole(dir.File("writer.wmv")), 1);
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
    NoiseFrames noise(96, 64);
    uint32_t accepted = 0;
    while (writer.WriteVideoFrame(96, 64, noise.Next(), 24) == CVideoWriter::kSuccess)
        ++accepted;
    EXPECT_STREQ(writer.m_szLastError, "Unable to Write Frame");
    EXPECT_EQ(writer.GetState(), CVideoWriter::kNotReady);
    EXPECT_EQ(writer.GetFramesWritten(), accepted + 1);
    limited.Close();
    EXPECT_LE(test::FileSize(dir.File("full.wmv")), 40000u);
    const int decoded = DecodeWhole(dir.File("full.wmv"));
    EXPECT_GE(decoded, 1);
    EXPECT_LE(decoded, int(accepted));
}

} // namespace
} // namespace quillon
