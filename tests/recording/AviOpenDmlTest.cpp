// A long race: an AVI recording past 1 GiB continues as OpenDML and stays one readable file.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

#include "TestSupport.h"
#include "recording/ByteFields.h"
#include "recording/QuillonFile.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace quillon {
namespace {

using test::Quote;

constexpr uint32_t kWidth = 2048;
constexpr uint32_t kHeight = 1536;
constexpr uint32_t kFrames = 125; // about 1.18 GB: a second RIFF segment
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 3;

// One buffer for every frame; its top and bottom rows carry the frame's index, so that each
// frame differs and a frame out of place or upside down shows.
void Stamp(std::vector<uint8_t>& frame, uint32_t index) {
    PutLe32(frame.data(), index);
    PutLe32(frame.data() + kFrameBytes - kWidth * 3, ~index);
}

std::string Md5(const std::vector<uint8_t>& bytes) {
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), int(bytes.size()));
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

TEST(AviOpenDml, RecordingPastOneGibibyteReadsWholeWithEveryFrameInPlace) {
    test::TempDir dir;
    const std::string path = dir.File("long.avi");
    std::vector<uint8_t> frame = test::PatternFrame(kWidth, kHeight, 5);
    std::vector<std::string> expected;
    {
        CQuillonFile recording(path, 25, kWidth, kHeight);
        for (uint32_t i = 0; i < kFrames; ++i) {
            Stamp(frame, i);
            recording.WriteFrame(kWidth, kHeight, frame.data(), 24, 40 * i, i + 1);
            expected.push_back(Md5(frame));
        }
        ASSERT_EQ(recording.GetFramesWritten(), kFrames) << recording.GetLastError();
    }
    ASSERT_GT(test::FileSize(path), uint64_t(1) << 30);

    test::CommandResult probe = test::RunCommand(
        "ffprobe -v error -select_streams 0 -show_entries stream=nb_frames " + Quote(path));
    EXPECT_EQ(test::Field(probe.output, "nb_frames"), std::to_string(kFrames));

    test::CommandResult md5 =
        test::RunCommand("ffmpeg -v error -i " + Quote(path) + " -map 0:v -f framemd5 - 2>&1");
    ASSERT_EQ(md5.exitCode, 0) << md5.output;
    std::vector<std::string> decoded;
    for (const std::string& line : test::Lines(md5.output))
        if (line[0] != '#')
            decoded.push_back(line.substr(line.rfind(' ') + 1));
    EXPECT_EQ(decoded, expected);

    test::CommandResult check =
        test::RunCommand(Quote(test::InspectTool()) + " --check " + Quote(path) + " 2>&1");
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("RIFF segments: 2 (OpenDML, 125 frames in dmlh)"),
              std::string::npos)
        << check.output;
    EXPECT_NE(check.output.find("frame 124: time 4960 ms"), std::string::npos);
}

} // namespace
} // namespace quillon
