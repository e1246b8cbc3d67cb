// Full disks, failed writes and recordings that never finish: whatever happens, the file left
// behind opens in an outside reader and holds whole frames.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "recording/ByteFields.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using test::Field;
using test::Quote;
using test::RunCommand;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kVlvRecord = kWidth * kHeight + 4;
constexpr size_t kAvihFlagsOffset = 44; // RIFF, LIST hdrl and the avih chunk head come first
constexpr uint32_t kAvifHasIndex = 0x10;
constexpr int kSkipExitCode = 77;

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
    test::CommandResult probe = RunCommand("ffprobe -v error -select_streams 0 -show_entries "
                                           "stream=nb_frames " +
                                           Quote(path));
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(Field(probe.output, "nb_frames"), frames > 0 ? std::to_string(frames) : "N/A");
    test::CommandResult decoded = RunCommand("ffmpeg -v error -i " + Quote(path) +
                                             " -map 0:v -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_TRUE(Bytes(decoded.output.begin(), decoded.output.end()) == ExpectedFrames(frames))
        << "decoded " << decoded.output.size() << " bytes for " << frames << " frames";
}

int DecodedWindowsMediaFrames(const std::string& path) {
    test::CommandResult r =
        RunCommand("ffmpeg -v error -xerror -i " + Quote(path) + " -map 0:v -f framecrc - 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    int frames = 0;
    for (const std::string& line : test::Lines(r.output))
        frames += line[0] != '#';
    return frames;
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override { CQuillonFile::ResetAdmission(); }
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

TEST_F(FullDisk, AviIsFinishedAroundTheFramesItHolds) {
    const std::string path = dir.File("race.avi");
    auto output = std::make_unique<test::SizeLimitedOutput>(path, UINT64_MAX);
    test::SizeLimitedOutput* limited = output.get();
    {
        CQuillonFile recording(path, 25, kWidth, kHeight, std::move(output));
        EXPECT_EQ(RecordUntilFull(recording, 3), 3u);
        limited->SetLimit(limited->Tell() + 5000); // half of the next frame fits
        EXPECT_EQ(RecordUntilFull(recording, 6), 3u);
        EXPECT_TRUE(recording.HasFailed());
    }
    ExpectAviHolds(path, 3);
    const Bytes file = test::ReadBytes(path);
    EXPECT_EQ(GetLe32(&file[kAvihFlagsOffset]) & kAvifHasIndex, kAvifHasIndex);
}

TEST_F(FullDisk, AviWithoutRoomForItsIndexIsStillReadable) {
    const std::string path = dir.File("race.avi");
    auto output = std::make_unique<test::SizeLimitedOutput>(path, UINT64_MAX);
    test::SizeLimitedOutput* limited = output.get();
    {
        CQuillonFile recording(path, 25, kWidth, kHeight, std::move(output));
        RecordUntilFull(recording, 3);
        limited->SetLimit(limited->Tell() + 20); // less than the 104-byte idx1
        EXPECT_EQ(RecordUntilFull(recording, 6), 3u);
    }
    ExpectAviHolds(path, 3);
    const Bytes file = test::ReadBytes(path);
    EXPECT_EQ(GetLe32(&file[kAvihFlagsOffset]) & kAvifHasIndex, 0u);
}

TEST_F(FullDisk, DeviceWithNoSpaceAtAllIsReportedNotCrashedOn) {
    const std::string avi = dir.File("full.avi");
    const std::string wmv = dir.File("full.wmv");
    std::filesystem::create_symlink("/dev/full", avi);
    std::filesystem::create_symlink("/dev/full", wmv);
    for (const std::string& path : {std::string("/dev/full"), avi, wmv}) {
        CQuillonFile::ResetAdmission();
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
    if (pid == 0) {
        CQuillonFile::ResetAdmission();
        _exit(body());
    }
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
            EXPECT_GE(DecodedWindowsMediaFrames(path), 1);
    }
}

// A small tmpfs mounted in a private mount namespace: a disk that really runs full. Needs the
// right to make namespaces; the test is skipped where that is not given.
bool MountPrivateTmpfs(const std::string& where, const char* size) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    return mount("tmpfs", where.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
}

TEST_F(FullDisk, RealFullFileSystemLeavesReadableFilesOfEachKind) {
    for (const char* name : {"full.vlv", "full.avi", "full.wmv"}) {
        const std::string mountPoint = dir.File(std::string("mnt-") + name);
        std::filesystem::create_directory(mountPoint);
        const std::string kept = dir.File(name);
        const int written = InChild([&] {
            if (!MountPrivateTmpfs(mountPoint, "160k"))
                return kSkipExitCode;
            const std::string path = mountPoint + "/" + name;
            const int result = RecordInChildUntilFull(path);
            std::filesystem::copy_file(path, kept); // the mount goes with the child
            return result;
        });
        if (written == kSkipExitCode)
            GTEST_SKIP() << "no private mount namespace here";
        SCOPED_TRACE(name);
        ASSERT_GE(written, 1);
        ASSERT_LT(written, 200);
        if (kept.ends_with(".vlv"))
            EXPECT_EQ(test::FileSize(kept), 22u + uint64_t(written + 1) * kVlvRecord);
        else if (kept.ends_with(".avi"))
            ExpectAviHolds(kept, uint32_t(written));
        else
            EXPECT_GE(DecodedWindowsMediaFrames(kept), 1);
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
            test::CommandResult decoded =
                RunCommand("ffmpeg -v error -i " + Quote(path) +
                           " -map 0:v -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
            EXPECT_TRUE(Bytes(decoded.output.begin(), decoded.output.end()) == ExpectedFrames(30));
        } else {
            EXPECT_GE(DecodedWindowsMediaFrames(path), 29);
        }
    }
}

} // namespace
} // namespace quillon
