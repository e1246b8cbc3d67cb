// A long race cut short past 1 GiB: the repair keeps the closed first RIFF segment and every
// whole frame of the OpenDML segment after it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "RepairSupport.h"
#include "TestSupport.h"
#include "recording/AviFormat.h"
#include "recording/ByteFields.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

constexpr uint32_t kWidth = 2048;
constexpr uint32_t kHeight = 1536;
constexpr uint32_t kRate = 25;
constexpr uint32_t kFrames = 125; // about 1.18 GB: a second RIFF segment

TEST(RepairLong, OpenDmlRecordingCutPastOneGibibyteKeepsEveryWholeFrame) {
    test::TempDir dir;
    const std::string crash = dir.File("crash.avi");
    {
        CQuillonFile recording(dir.File("race.avi"), kRate, kWidth, kHeight);
        const std::vector<uint8_t> frame = test::PatternFrame(kWidth, kHeight, 1);
        for (uint32_t i = 0; i < kFrames; ++i)
            recording.WriteFrame(kWidth, kHeight, frame.data(), 24, 40 * i, i + 1);
        std::filesystem::copy_file(dir.File("race.avi"), crash);
    }
    std::filesystem::remove(dir.File("race.avi"));

    std::ifstream file(crash, std::ios::binary);
    const auto read = [&](uint64_t offset) {
        uint8_t bytes[8] = {};
        file.seekg(std::streamoff(offset));
        file.read(reinterpret_cast<char*>(bytes), sizeof bytes);
        return std::pair{GetLe32(bytes), GetLe32(bytes + 4)};
    };
    // The first segment was closed when the second began: its size and frame count are set.
    const uint64_t secondRiff = 8 + uint64_t(read(4).first);
    const uint32_t firstFrames = read(48).first;
    ASSERT_EQ(read(secondRiff + 8).first, GetLe32(reinterpret_cast<const uint8_t*>("AVIX")));
    const uint64_t sample = uint64_t(kWidth) * 3 * kHeight;
    const uint64_t record = 2 * avi::kChunkHeaderBytes + sample + avi::kTimeBytes;
    uint64_t frames = secondRiff + 2 * avi::kListHeaderBytes; // past RIFF AVIX and LIST movi
    const uint32_t video =
        GetLe32(reinterpret_cast<const uint8_t*>(avi::kChunkId[avi::kVideo].data()));
    while (read(frames).first != video)
        frames += avi::kChunkHeaderBytes + read(frames).second; // the reserved indexes
    ASSERT_GT(frames + 2 * record, uint64_t(1) << 30);          // the cuts in frames lie past 1 GiB

    const std::pair<uint64_t, uint32_t> cuts[] = {
        {frames - 100, firstFrames},                   // inside the second segment's index space
        {frames + 2 * record, firstFrames + 2},        // between frames
        {frames + 3 * record + 5000, firstFrames + 3}, // inside a frame
    };
    for (const auto& [cut, expected] : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        test::CopyCut(crash, dir.File("cut.avi"), cut);
        test::ExpectRepaired(dir.File("cut.avi"), expected, kRate, 1);
    }
}

} // namespace
} // namespace quillon
