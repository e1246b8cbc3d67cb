#include "RepairSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "TestSupport.h"
#include "recording/ByteFields.h"

namespace quillon::test {

namespace {
constexpr uint64_t kAsfDataObjectHeadBytes = 50;
constexpr size_t kCopyBlockBytes = 1 << 20;
} // namespace

void CopyCut(const std::string& from, const std::string& to, uint64_t size) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::vector<char> block(kCopyBlockBytes);
    while (size > 0 && in) {
        in.read(block.data(), std::streamsize(std::min<uint64_t>(size, block.size())));
        out.write(block.data(), in.gcount());
        size -= uint64_t(in.gcount());
    }
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

uint32_t ExpectRepaired(const std::string& path, int64_t expected, uint32_t rate,
                        uint32_t keyInterval) {
    const CommandResult repair = RunCommand(InspectTool() + " --repair " + Quote(path) + " 2>&1");
    EXPECT_EQ(repair.exitCode, 0) << repair.output;
    const CommandResult check = RunCommand(InspectTool() + " --check " + Quote(path) + " 2>&1");
    EXPECT_EQ(check.exitCode, 0) << check.output;

    const CommandResult count = RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
        "-of csv=p=0 " +
        Quote(path));
    EXPECT_EQ(count.exitCode, 0);
    const auto frames = uint32_t(std::atol(count.output.c_str()));
    if (expected >= 0) {
        EXPECT_EQ(frames, uint64_t(expected));
    }
    if (frames == 0)
        return frames;
    // A seek to the last frame's time lands on a key frame at or before it (FFmpeg's ASF reader
    // may take an earlier one than the nearest); reading on from there ends with the last frame.
    const uint64_t lastMs = uint64_t(frames - 1) * 1000 / rate;
    const uint64_t keyMs = uint64_t(frames - 1) / keyInterval * keyInterval * 1000 / rate;
    const CommandResult seek = RunCommand(
        "ffprobe -v error -select_streams v:0 -read_intervals " + std::to_string(lastMs) +
        "ms% -show_entries packet=pts_time,flags -of csv=p=0 " + Quote(path));
    EXPECT_EQ(seek.exitCode, 0);
    const std::vector<std::string> packets = Lines(seek.output);
    if (packets.empty()) {
        ADD_FAILURE() << "seek to " << lastMs << " ms found nothing";
        return frames;
    }
    const auto ms = [](const std::string& line) {
        return std::llround(std::atof(line.c_str()) * 1000);
    };
    EXPECT_LE(ms(packets.front()), int64_t(keyMs)) << seek.output;
    if (keyInterval == 1) {
        EXPECT_EQ(packets.size(), 1u) << seek.output;
    }
    EXPECT_NE(packets.front().find(",K"), std::string::npos) << seek.output;
    EXPECT_EQ(ms(packets.back()), int64_t(lastMs)) << seek.output;
    return frames;
}

AsfLayout ReadAsfLayout(const std::string& path, uint64_t packetBytes) {
    AsfLayout layout;
    const std::vector<uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 24)
        return layout;
    layout.dataStart = GetLe64(&bytes[16]) + kAsfDataObjectHeadBytes;
    const CommandResult r = RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                       "packet=pos -of csv=p=0 " +
                                       Quote(path));
    for (const std::string& line : Lines(r.output))
        layout.framePackets.push_back(
            (std::strtoull(line.c_str(), nullptr, 10) - layout.dataStart) / packetBytes);
    return layout;
}

} // namespace quillon::test
