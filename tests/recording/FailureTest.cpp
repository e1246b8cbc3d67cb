// Full disks, failed writes and recordings that never finish: whatever happens, the file left
// behind opens in an outside reader and holds whole frames.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "recording/ByteFields.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using test::Field;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kVlvRecord = kWidth * kHeight + 4;
constexpr size_t kAvihFlagsOffset = 44; // RIFF, LIST hdrl and the avih chunk head come first
constexpr uint32_t kAvifHasIndex = 0x10;

// Offers frames 1..count (NoiseFrame with seed i) and returns how many were written.
uint32_t RecordUntilFull(CQuillonFile& recording, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes frame = test::NoiseFrame(kWidth, kHeight, i);
        recording.WriteFrame(kWidth, kHeight, frame.data(), 24, 100 * i, i + 1);
    }
    return recording.GetFramesWritten();
}

Bytes ExpectedFrames(uint32_t count) {
    Bytes all;
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes frame = test::NoiseFrame(kWidth, kHeight, i);
        all.insert(all.end(), frame.begin(), frame.end());
    }
    return all;
}

// What FFmpeg makes of an AVI recording: frames counted from its headers, and all pixels.
void ExpectAviHolds(const std::string& path, uint32_t frames) {
    const std::string probe = test::Probe(path, "-select_streams 0 -show_entries stream=nb_frames");
    EXPECT_EQ(Field(probe, "nb_frames"), frames > 0 ? std::to_string(frames) : "N/A");
    const Bytes decoded = test::DecodeBgr(path);
    EXPECT_TRUE(decoded == ExpectedFrames(frames))
        << "decoded " << decoded.size() << " bytes for " << frames << " frames";
}

class FullDisk : public ::testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(FullDisk, ContainerIsCutBackToTheLastWholeFrame) {
    const std::string path = dir.File("race.vlv");
    const uint64_t limit = 22 + 3 * kVlvRecord + kVlvRecord / 2; // room for 2.5 frames
    {
        CQuillonFile recording(path, 25, kWidth, kHeight,
                               std::make_unique<test::SizeLimitedOutput>(path, limit));
        const Bytes frame(kWidth * kHeight, 0x42);
        for (uint32_t i = 1; i <= 5; ++i)
            recording.WriteFrame(kWidth, kHeight, frame.data(), 8, 0, i);
        EXPECT_EQ(recording.GetFramesWritten(), 2u);
        EXPECT_TRUE(recording.IsOpen());
        EXPECT_TRUE(recording.HasFailed());
        EXPECT_NE(recording.GetLastError().find("No space left"), std::string::npos);
    }
    EXPECT_EQ(test::FileSize(path), 22u + 3 * kVlvRecord);
}

// The disk runs full in the middle of the fourth frame; the index is written when it still fits.
TEST_F(FullDisk, AviIsFinishedAroundTheFramesItHoldsWithItsIndexIfThereIsRoom) {
    for (const auto& [room, flags] : {std::pair{5000u, kAvifHasIndex}, std::pair{20u, 0u}}) {
        SCOPED_TRACE(room); // 20 is less than the 104-byte idx1
        const std::string path = dir.File("race" + std::to_string(room) + ".avi");
        auto output = std::make_unique<test::SizeLimitedOutput>(path, UINT64_MAX);
        test::SizeLimitedOutput* limited = output.get();
        {
            CQuillonFile recording(path, 25, kWidth, kHeight, std::move(output));
            EXPECT_EQ(RecordUntilFull(recording, 3), 3u);
            limited->SetLimit(limited->Tell() + room);
            EXPECT_EQ(RecordUntilFull(recording, 6), 3u);
            EXPECT_TRUE(recording.HasFailed());
        }
        ExpectAviHolds(path, 3);
        EXPECT_EQ(GetLe32(&test::ReadBytes(path)[kAvihFlagsOffset]) & kAvifHasIndex, flags);
    }
}

TEST_F(FullDisk, DeviceWithNoSpaceAtAllIsReportedNotCrashedOn) {
    const std::string avi = dir.File("full.avi");
    const std::string wmv = dir.File("full.wmv");
    std::filesystem::create_symlink("/dev/full", avi);
    std::filesystem::create_symlink("/dev/full", wmv);
    for (const std::string& path : {std::string("/dev/full"), avi, wmv}) {
        CQuillonFile recording(path, 25, kWidth, kHeight);
        RecordUntilFull(recording, 3);
        EXPECT_EQ(recording.GetFramesWritten(), 0u) << path;
        EXPECT_TRUE(recording.HasFailed()) << path;
        EXPECT_NE(recording.GetLastError().find("No space left"), std::string::npos)
            << path << ": " << recording.GetLastError();
    }
}

TEST_F(FullDisk, MissingFolderMeansNoRecordingAndSaysWhy) {
    for (const char* name : {"x.vlv", "x.avi", "x.wmv"}) {
        CQuillonFile recording(dir.File(std::string("missing/") + name), 25, kWidth, kHeight);
        EXPECT_EQ(RecordUntilFull(recording, 2), 0u);
        EXPECT_FALSE(recording.IsOpen()) << name;
        EXPECT_TRUE(recording.HasFailed()) << name;
        EXPECT_FALSE(recording.GetLastError().empty()) << name;
    }
}

// Runs body in a child process and returns its exit code; the child never returns to gtest.
template <typename Body> int InChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Records into path until the disk (or the file size limit) is full; the child's exit code is
// the number of frames written, with 200 meaning "nothing failed".
int RecordInChildUntilFull(const std::string& path) {
    CQuillonFile recording(path, 25, kWidth, kHeight);
    const uint32_t written = RecordUntilFull(recording, 150);
    return recording.HasFailed() ? int(written) : 200;
}

TEST_F(FullDisk, FileSizeLimitOfTheProcessStopsEachKindCleanly) {
    for (const char* name : {"limit.vlv", "limit.avi", "limit.wmv"}) {
        const std::string path = dir.File(name);
        const int written = InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN); // writes past the limit then fail with EFBIG
            const rlimit limit = {200000, 200000};
            setrlimit(RLIMIT_FSIZE, &limit);
            return RecordInChildUntilFull(path);
        });
        SCOPED_TRACE(name);
        ASSERT_GE(written, 0);
        ASSERT_LT(written, 200);
        EXPECT_LE(test::FileSize(path), 200000u);
        if (path.ends_with(".vlv"))
            EXPECT_EQ(test::FileSize(path), 22u + uint64_t(written + 1) * kVlvRecord);
        else if (path.ends_with(".avi"))
            ExpectAviHolds(path, uint32_t(written));
        else
            EXPECT_GE(test::DecodedFrames(path), 1);
    }
}

// The process dies before the recording is finished, as at a power loss with the data written.
TEST_F(FullDisk, UnfinishedRecordingsStillGiveTheirFrames) {
    for (const char* name : {"cut.vlv", "cut.avi", "cut.wmv"}) {
        const std::string path = dir.File(name);
        InChild([&] {
            auto* recording = new CQuillonFile(path, 25, kWidth, kHeight);
            RecordUntilFull(*recording, 30);
            return 0; // leaves without deleting the recording
        });
        SCOPED_TRACE(name);
        if (path.ends_with(".vlv")) {
            EXPECT_EQ(test::FileSize(path), 22u + 31 * uint64_t(kVlvRecord));
        } else if (path.ends_with(".avi")) {
            EXPECT_TRUE(test::DecodeBgr(path) == ExpectedFrames(30));
        } else {
            EXPECT_GE(test::DecodedFrames(path), 29);
        }
    }
}

} // namespace
} // namespace quillon
