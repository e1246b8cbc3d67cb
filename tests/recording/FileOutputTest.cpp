// The local file output: buffered, direct and gathered writes land in order, patches and cuts
// work, and a write that does not fit leaves exactly what reached the file.

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "recording/LocalFileOutput.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sequence(size_t size, uint8_t first) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(first + i * 7);
    return bytes;
}

// Many parts, together larger than the output's buffer: the gathered path.
std::vector<ConstBuffer> Parts(const Bytes& bytes, size_t partSize) {
    std::vector<ConstBuffer> parts;
    for (size_t pos = 0; pos < bytes.size(); pos += partSize)
        parts.push_back({&bytes[pos], std::min(partSize, bytes.size() - pos)});
    return parts;
}

TEST(LocalFileOutput, SmallLargeAndGatheredWritesKeepTheirOrder) {
    test::TempDir dir;
    const std::string path = dir.File("out.bin");
    const Bytes small = Sequence(100, 1), large = Sequence(LocalFileOutput::kBufferSize + 5, 2),
                gathered = Sequence(3 * LocalFileOutput::kBufferSize + 11, 3),
                tiny = Sequence(30, 4);
    {
        LocalFileOutput out(path);
        ASSERT_TRUE(out.IsOpen());
        ASSERT_TRUE(out.Write(small.data(), small.size()));
        ASSERT_TRUE(out.Write(large.data(), large.size()));
        const std::vector<ConstBuffer> parts = Parts(gathered, 1000); // more than one writev
        ASSERT_TRUE(out.WriteParts(parts.data(), parts.size()));
        const std::vector<ConstBuffer> few = Parts(tiny, 7); // fits the buffer
        ASSERT_TRUE(out.WriteParts(few.data(), few.size()));
        EXPECT_EQ(out.Tell(), small.size() + large.size() + gathered.size() + tiny.size());
        ASSERT_TRUE(out.Seek(10, SeekOrigin::Begin)); // patch a field in place
        ASSERT_TRUE(out.Write("PATCH", 5));
        ASSERT_TRUE(out.Seek(0, SeekOrigin::End));
        EXPECT_EQ(out.Tell(), small.size() + large.size() + gathered.size() + tiny.size());
        EXPECT_TRUE(out.Close());
        EXPECT_FALSE(out.HasFailed());
    }
    Bytes expected = small;
    for (const Bytes* b : {&large, &gathered, &tiny})
        expected.insert(expected.end(), b->begin(), b->end());
    std::copy_n("PATCH", 5, expected.begin() + 10);
    EXPECT_TRUE(test::ReadBytes(path) == expected);
}

TEST(LocalFileOutput, TruncateCutsTheFileAndKeepsThePosition) {
    test::TempDir dir;
    const std::string path = dir.File("out.bin");
    LocalFileOutput out(path);
    const Bytes bytes = Sequence(1000, 9);
    ASSERT_TRUE(out.Write(bytes.data(), bytes.size()));
    ASSERT_TRUE(out.Truncate(400));
    EXPECT_EQ(test::FileSize(path), 400u);
    EXPECT_EQ(out.Tell(), 1000u);
}

TEST(LocalFileOutput, GatheredWritePastAFileSizeLimitLeavesTheWrittenPrefix) {
    test::TempDir dir;
    const std::string path = dir.File("limited.bin");
    const Bytes bytes = Sequence(2 * LocalFileOutput::kBufferSize, 5);
    constexpr rlim_t kLimit = 300001; // inside a part
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        LocalFileOutput out(path);
        const std::vector<ConstBuffer> parts = Parts(bytes, 4096);
        const bool failed = !out.WriteParts(parts.data(), parts.size());
        const bool reported =
            out.HasFailed() && out.LastError().find("File too large") != std::string::npos;
        const bool positioned = out.Tell() == kLimit;
        _exit(failed && reported && positioned ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(test::ReadBytes(path) == Bytes(bytes.begin(), bytes.begin() + kLimit));
}

TEST(LocalFileOutput, FileThatCannotBeCreatedSaysWhy) {
    LocalFileOutput out("/nonexistent-folder/x.avi");
    EXPECT_FALSE(out.IsOpen());
    EXPECT_TRUE(out.HasFailed());
    EXPECT_NE(out.LastError().find("No such file"), std::string::npos);
    EXPECT_FALSE(out.Write("x", 1));
}

} // namespace
} // namespace quillon
