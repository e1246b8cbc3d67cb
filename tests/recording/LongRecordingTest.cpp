// A long race: an AVI recording past 1 GiB continues as OpenDML and stays one readable file; cut
// short past 1 GiB, the repair keeps the closed first RIFF segment and every whole frame of the
// OpenDML segment after it.

#include "TestSupport.h"
#include "recording/AviFormat.h"

extern "C" {
#include <libavutil/adler32.h>
}

namespace quillon::test {
namespace {

constexpr uint32_t kWidth = 2048;
constexpr uint32_t kHeight = 1536;
constexpr uint32_t kRate = 25;
constexpr uint32_t kFrames = 125; // about 1.18 GB: a second RIFF segment
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 3;

TEST(LongRecording, PastOneGibibyteReadsWholeAndIsRepairedWhenCutShort) {
    TempDir dir;
    const std::string path = dir.File("long.avi"), crash = dir.File("crash.avi");
    // One buffer for every frame; its top and bottom rows carry the frame's index, so that each
    // frame differs and a frame out of place or upside down shows.
    Bytes frame = Frame(kWidth, kHeight, 5);
    std::vector<unsigned long> expected; // each frame's Adler-32 from 0, as FFmpeg's framecrc
    {
        CQuillonFile recording(path, kRate, kWidth, kHeight);
        for (uint32_t i = 0; i < kFrames; ++i) {
            PutLe32(frame.data(), i);
            PutLe32(frame.data() + kFrameBytes - kWidth * 3, ~i);
            recording.WriteFrame(kWidth, kHeight, frame.data(), 24, 40 * i, i + 1);
            expected.push_back(av_adler32_update(0, frame.data(), kFrameBytes));
        }
        ASSERT_EQ(recording.GetFramesWritten(), kFrames) << recording.GetLastError();
        std::filesystem::copy_file(path, crash); // the file as a power loss would leave it
    }
    ASSERT_GT(FileSize(path), uint64_t(1) << 30);
    const CommandResult crc =
        RunCommand("ffmpeg -v error -i " + Quote(path) + " -map 0:v -f framecrc - 2>&1");
    ASSERT_EQ(crc.exitCode, 0) << crc.output;
    std::vector<unsigned long> decoded;
    for (const std::string& line : Lines(crc.output))
        if (line[0] != '#')
            decoded.push_back(std::stoul(line.substr(line.rfind(' ') + 1), nullptr, 16));
    EXPECT_EQ(decoded, expected);
    const CommandResult check = Inspect("--check " + Quote(path));
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_TRUE(HasLine(check.output, "RIFF segments: 2 (OpenDML, 125 frames in dmlh)"))
        << check.output;
    EXPECT_TRUE(HasLine(check.output, "frame 124: time 4960 ms"));
    std::filesystem::remove(path);

    // The first segment was closed when the second began: its frame count is set. The second
    // segment's frames lie one after another up to the end of the file as the power loss left it.
    char head[52];
    std::ifstream(crash, std::ios::binary).read(head, sizeof head);
    const uint32_t firstFrames = GetLe32(reinterpret_cast<const uint8_t*>(head) + 48);
    const uint64_t record = 2 * avi::kChunkHeaderBytes + kFrameBytes + avi::kTimeBytes;
    const uint64_t frames = FileSize(crash) - (kFrames - firstFrames) * record;
    ASSERT_LT(firstFrames, kFrames);
    ASSERT_GT(frames + 2 * record, uint64_t(1) << 30); // the cuts in frames lie past 1 GiB

    const std::pair<uint64_t, uint32_t> cuts[] = {
        {frames - 100, firstFrames},                   // inside the second segment's index space
        {frames + 2 * record, firstFrames + 2},        // between frames
        {frames + 3 * record + 5000, firstFrames + 3}, // inside a frame
    };
    for (const auto& [cut, whole] : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        CopyCut(crash, dir.File("cut.avi"), cut);
        ExpectRepaired(dir.File("cut.avi"), int(whole), kRate, 1);
    }
}

} // namespace
} // namespace quillon::test
