// Full disks, failed writes and recordings that never finish: whatever happens, the file left
// behind opens in an outside reader and holds whole frames.

#include <csignal>
#include <optional>
#include <sys/resource.h>

#include "TestSupport.h"
#include "recording/FrameTimeTrailer.h"

namespace quillon::test {
namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kVlvRecord = kWidth * kHeight + 4;
constexpr size_t kAvihFlagsOffset = 44; // RIFF, LIST hdrl and the avih chunk head come first
constexpr uint32_t kAvifHasIndex = 0x10;

// What the readers find in a recording that holds the first frames of Frames(): the container's
// size, every AVI frame's pixels, or every Windows Media frame but the last, which may be lost
// with the packet it was in. A finished container or AVI file is sound too, headers and all.
void ExpectHolds(const std::string& path, uint32_t frames, bool finished) {
    if (path.ends_with(".wmv")) {
        EXPECT_GE(DecodedFrames(path), int(frames) - 1);
    } else if (path.ends_with(".vlv")) {
        EXPECT_EQ(FileSize(path), 22 + uint64_t(frames + 1) * kVlvRecord);
    } else {
        EXPECT_TRUE(DecodeBgr(path) == Frames(kWidth, kHeight, frames)) << frames << " frames";
    }
    const CommandResult check = Inspect("--check " + Quote(path));
    EXPECT_TRUE(!finished || check.exitCode == 0) << path << "\n" << check.output;
}

// A file size limit for this process while it lives: writes past it fail with EFBIG.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limit = {bytes, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &before); }
    rlimit before;
};

// A file size limit reached in the middle of frame 31: each kind keeps the 30 whole frames before
// it, says why it stopped and stays open, and AVI keeps its index when that still fits. A copy
// taken before the limit, as a power loss leaves a recording that was never finished, holds
// them too.
TEST(FullDisk, EachKindKeepsItsWholeFramesWhenTheFileStopsGrowingAndSaysWhyWhenItCannotRecord) {
    TempDir dir;
    // {file, room after 30 frames, AVI flags}; 20 bytes are less than the idx1.
    for (const auto& [name, room, flags] :
         {std::tuple{"a.vlv", 1000u, 0u}, std::tuple{"b.avi", 5000u, kAvifHasIndex},
          std::tuple{"c.avi", 20u, 0u}, std::tuple{"d.wmv", 1000u, 0u}}) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name), crash = dir.File(std::string("crash.") + name);
        {
            // The limit outlives the recording, which is finished under it.
            std::optional<FileSizeLimit> limit;
            CQuillonFile recording(path, 25, kWidth, kHeight);
            Offer(recording, kWidth, kHeight, 30);
            std::filesystem::copy_file(path, crash);
            limit.emplace(FileSize(path) + room);
            Offer(recording, kWidth, kHeight, 33); // the first 30 again are repeats
            EXPECT_EQ(recording.GetFramesWritten(), 30u);
            EXPECT_TRUE(recording.IsOpen());
            EXPECT_NE(recording.GetLastError().find("File too large"), std::string::npos);
        }
        ExpectHolds(path, 30, !path.ends_with(".wmv"));
        ExpectHolds(crash, 30, false);
        EXPECT_TRUE(!path.ends_with(".avi") ||
                    (GetLe32(&ReadBytes(path)[kAvihFlagsOffset]) & kAvifHasIndex) == flags);
    }

    // No recording can be made, or a Windows Media one cannot go on: each says why and drops its
    // frames without a crash.
    // {file name ("none.*": no output at all), opens, depths of the frames offered, error,
    // frames written}
    using Case = std::tuple<std::string, bool, std::vector<uint16_t>, const char*, uint32_t>;
    // A name beyond 1024 UTF-16 units, a first frame of 12 bits, a frame of another depth.
    std::vector<Case> cases = {
        {std::string(1100, 'x') + ".wmv", false, {24}, "Unable to Convert Output Filename", 0},
        {"a.wmv", true, {12, 24}, "Unable to Set Media Type", 0},
        {"b.wmv", true, {24, 32, 24}, "Unable to Write Frame", 1},
        {"missing/y.wmv", false, {24}, "Unable to Set Output Filename", 0}};
    for (const std::string kind : {".vlv", ".avi", ".wmv"}) {
        std::filesystem::create_symlink("/dev/full", dir.File("full" + kind));
        // A Windows Media file takes its header with the first frame.
        cases.push_back({"full" + kind, kind == ".wmv", {24, 24, 24}, "No space left", 0});
        cases.push_back({"missing/x" + kind, false, {24}, "No such file", 0});
        cases.push_back({"none" + kind, false, {24}, "no output", 0});
    }
    const Bytes frame = Frame(kWidth, kHeight * 2, 0); // room for 32 bits a pixel
    for (const auto& [name, opens, depths, error, written] : cases) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        CQuillonFile recording(path, 25, kWidth, kHeight,
                               name.starts_with("none") ? nullptr
                                                        : std::make_unique<LocalFileOutput>(path));
        EXPECT_EQ(recording.IsOpen(), opens);
        uint32_t sequence = 0;
        for (const uint16_t depth : depths)
            recording.WriteFrame(kWidth, kHeight, frame.data(), depth, 0, ++sequence);
        EXPECT_EQ(recording.GetFramesWritten(), written);
        EXPECT_TRUE(recording.HasFailed());
        EXPECT_NE(recording.GetLastError().find(error), std::string::npos)
            << recording.GetLastError();
    }
}

// Many parts, together larger than the output's buffer: the gathered path.
std::vector<ConstBuffer> Parts(const Bytes& bytes, size_t partSize) {
    std::vector<ConstBuffer> parts;
    for (size_t pos = 0; pos < bytes.size(); pos += partSize)
        parts.push_back({&bytes[pos], std::min(partSize, bytes.size() - pos)});
    return parts;
}

// Buffered, direct and gathered writes land in order, and patches and cuts work.
TEST(LocalFileOutput, WritesOfEveryPathKeepTheirOrderPatchesAndCutsHoldAndALimitLeavesWhatFitted) {
    TempDir dir;
    const std::string path = dir.File("out.bin");
    LocalFileOutput out(path);
    Bytes expected;
    // {bytes / 3, part size (0: one plain write)}: into the buffer, past it, gathered in more than
    // one writev, gathered into the buffer.
    constexpr uint32_t kBuffer = LocalFileOutput::kBufferSize;
    const std::pair<uint32_t, size_t> writes[] = {{100, 0}, {kBuffer, 0}, {kBuffer, 500}, {10, 7}};
    for (const auto& [size, part] : writes) {
        const Bytes bytes = Frame(size, 1, uint32_t(part));
        const std::vector<ConstBuffer> parts = Parts(bytes, part ? part : bytes.size());
        ASSERT_TRUE(part ? out.WriteParts(parts.data(), parts.size())
                         : out.Write(bytes.data(), bytes.size()));
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    // A field patched in place, then 1000 bytes still in the buffer when the file is cut.
    ASSERT_TRUE(out.Seek(10, SeekOrigin::Begin) && out.Write("PATCH", 5) &&
                out.Seek(0, SeekOrigin::End) && out.Write(expected.data(), 1000));
    EXPECT_EQ(out.Tell(), expected.size() + 1000);
    ASSERT_TRUE(out.Truncate(expected.size() + 900));
    EXPECT_EQ(FileSize(path), expected.size() + 900);
    EXPECT_EQ(out.Tell(), expected.size() + 1000);
    EXPECT_TRUE(out.Close() && !out.HasFailed());
    const Bytes tail(expected.begin(), expected.begin() + 900);
    expected.insert(expected.end(), tail.begin(), tail.end());
    std::copy_n("PATCH", 5, expected.begin() + 10);
    EXPECT_TRUE(ReadBytes(path) == expected);

    // Past a file size limit a gathered write leaves the prefix that fitted, and a frame-time
    // trailer that fits only in part is taken back, leaving the file as it was.
    const Bytes bytes = Frame(2 * LocalFileOutput::kBufferSize, 1, 5);
    constexpr rlim_t kLimit = 300001; // inside a part
    const FileSizeLimit limit(kLimit);
    LocalFileOutput gathered(dir.File("parts")), video(dir.File("video"));
    const std::vector<ConstBuffer> parts = Parts(bytes, 4096);
    EXPECT_FALSE(gathered.WriteParts(parts.data(), parts.size()));
    EXPECT_TRUE(gathered.HasFailed());
    EXPECT_NE(gathered.LastError().find("File too large"), std::string::npos);
    EXPECT_EQ(gathered.Tell(), kLimit);
    EXPECT_TRUE(ReadBytes(dir.File("parts")) == Bytes(bytes.begin(), bytes.begin() + kLimit));
    ASSERT_TRUE(video.Write(bytes.data(), kLimit - 10));
    std::string error;
    EXPECT_FALSE(AppendFrameTimeTrailer(video, {1, 2, 3}, &error)); // needs 21 bytes
    EXPECT_NE(error.find("File too large"), std::string::npos);
    video.Close();
    EXPECT_TRUE(ReadBytes(dir.File("video")) == Bytes(bytes.begin(), bytes.begin() + kLimit - 10));
}

} // namespace
} // namespace quillon::test
