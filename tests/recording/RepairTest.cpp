// quillon-inspect --repair on recordings cut short: the file as a power loss leaves it (the
// writer never finished), cut again at many points. Afterwards ffprobe must count every whole
// frame and seek to the last one, and --check must call the file sound.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "RepairSupport.h"
#include "TestSupport.h"
#include "recording/AviFormat.h"
#include "recording/QuillonFile.h"
#include "recording/VideoWriter.h"

namespace quillon {
namespace {

using test::Quote;
using test::RunCommand;
using test::TempDir;

constexpr uint32_t kWidth = 96;
constexpr uint32_t kHeight = 64;
constexpr uint32_t kRate = 25;
constexpr uint32_t kFrames = 40;

// Records kFrames frames; copies the file as it lies on disk before the recording finishes.
void RecordWithCrashImage(const std::string& path, const std::string& crashImage) {
    CQuillonFile recording(path, kRate, kWidth, kHeight);
    for (uint32_t i = 0; i < kFrames; ++i)
        recording.WriteFrame(kWidth, kHeight, test::NoiseFrame(kWidth, kHeight, i).data(), 24,
                             1000 + 40 * i, i + 1);
    std::filesystem::copy_file(path, crashImage);
}

TEST(Repair, AviCutAnywhereKeepsEveryWholeFrame) {
    TempDir dir;
    const std::string crash = dir.File("crash.avi");
    RecordWithCrashImage(dir.File("race.avi"), crash);
    avi::HeaderFields fields;
    const uint64_t header =
        avi::BuildHeader(avi::MakeGeometry(kRate, kWidth, kHeight), fields).size();
    const uint64_t movi = header + avi::kListHeaderBytes;
    const uint64_t record = 2 * avi::kChunkHeaderBytes + uint64_t(kWidth) * 3 * kHeight + 4;
    const uint64_t finished = test::FileSize(dir.File("race.avi"));
    const std::pair<uint64_t, uint32_t> cuts[] = {
        // {cut at, whole frames before it}
        {100, 0},                         // inside the main header
        {header - 7, 0},                  // inside the reserved OpenDML space
        {movi, 0},                        // header whole, no frame
        {movi + 5 * record, 5},           // between frames
        {movi + 7 * record + 3000, 7},    // inside a frame's picture
        {movi + 9 * record - 2, 8},       // inside a timing chunk
        {test::FileSize(crash), kFrames}, // as the power loss left it
        {finished - 20, kFrames},         // a finished file cut in its index
    };
    for (const auto& [cut, frames] : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string path = dir.File("cut.avi");
        test::CopyCut(cut < test::FileSize(crash) ? crash : dir.File("race.avi"), path, cut);
        test::ExpectRepaired(path, frames, kRate, 1);
    }
}

TEST(Repair, WindowsMediaCutAnywhereKeepsEveryWholeFrame) {
    TempDir dir;
    const std::string crash = dir.File("crash.wmv"), finished = dir.File("race.wmv");
    RecordWithCrashImage(finished, crash);
    const test::AsfLayout layout = test::ReadAsfLayout(finished, CVideoWriter::kAsfPacketBytes);
    const uint64_t packet = CVideoWriter::kAsfPacketBytes;
    const uint64_t packets = (test::FileSize(crash) - layout.dataStart) / packet;
    ASSERT_GE(packets, 4u);
    for (const uint64_t cut :
         {layout.dataStart, layout.dataStart + 2 * packet, layout.dataStart + 3 * packet + 1000,
          layout.dataStart + packets / 2 * packet + 1, test::FileSize(crash)}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string path = dir.File("cut.wmv");
        test::CopyCut(crash, path, cut);
        // A frame is whole when the packet where the next one begins reached the disk.
        const uint64_t whole = (cut - layout.dataStart) / packet;
        const auto before = [&](uint32_t frame) {
            return frame < layout.framePackets.size() && layout.framePackets[frame] < whole;
        };
        uint32_t least = 0, most = 0;
        while (before(least + 1))
            ++least;
        while (before(most))
            ++most;
        const uint32_t frames =
            test::ExpectRepaired(path, -1, kRate, CVideoWriter::kCleanPointInterval);
        EXPECT_GE(frames, least);
        EXPECT_LE(frames, most);
    }
    // A finished file cut inside its packets, and inside its index: the trailer is lost.
    const uint64_t size = test::FileSize(finished);
    const uint64_t videoEnd = size - kFrames * 4 - 9;
    for (const uint64_t cut : {videoEnd - 3 * packet, videoEnd - 10}) {
        SCOPED_TRACE("finished, cut at " + std::to_string(cut));
        test::CopyCut(finished, dir.File("cut.wmv"), cut);
        EXPECT_GE(
            test::ExpectRepaired(dir.File("cut.wmv"), -1, kRate, CVideoWriter::kCleanPointInterval),
            kFrames - 3);
    }
    // The muxer finished but the trailer was cut: with every time there, the times stay.
    test::CopyCut(finished, dir.File("cut.wmv"), size - 3);
    test::ExpectRepaired(dir.File("cut.wmv"), kFrames, kRate, CVideoWriter::kCleanPointInterval);
    EXPECT_NE(RunCommand(test::InspectTool() + " " + Quote(dir.File("cut.wmv")))
                  .output.find("frame 39: sample time 1560 ms, time 2560 ms"),
              std::string::npos);
}

TEST(Repair, RefusesFilesThatAreNotOurs) {
    TempDir dir;
    // Another program's AVI and Windows Media files, cut short, and files of no known kind.
    const std::string other = dir.File("other");
    for (const char* format : {"avi", "asf"})
        ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 30 "
                             "-f " +
                             std::string(format) + " " + Quote(other + "." + format))
                      .exitCode,
                  0);
    test::CopyCut(other + ".avi", other + ".avi.cut", test::FileSize(other + ".avi") - 1000);
    test::CopyCut(other + ".asf", other + ".asf.cut", test::FileSize(other + ".asf") - 1000);
    test::WriteBytes(other + ".wav", std::string("RIFF\x10\0\0\0WAVEfmt ", 16));
    test::WriteBytes(other + ".txt", "hello");
    for (const char* name : {".avi.cut", ".asf.cut", ".wav", ".txt"}) {
        const uint64_t size = test::FileSize(other + name);
        const test::CommandResult r =
            RunCommand(test::InspectTool() + " --repair " + Quote(other + name) + " 2>&1");
        EXPECT_EQ(r.exitCode, 1) << name << ": " << r.output;
        EXPECT_EQ(test::FileSize(other + name), size) << name;
    }
}

} // namespace
} // namespace quillon
