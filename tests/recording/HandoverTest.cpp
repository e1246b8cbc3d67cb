// The save worker writes a recording while the window asks for its state: nothing is lost or
// torn on the way.

#include <atomic>
#include <thread>

#include "TestSupport.h"

namespace quillon::test {
namespace {

constexpr uint32_t kFrames = 400;

TEST(Handover, StatusReadWhileTheWorkerWritesLosesAndTearsNothing) {
    TempDir dir;
    const std::string path = dir.File("turns.vlv");
    auto recording = std::make_unique<CQuillonFile>(path, 25, 4, 1);
    std::atomic<bool> done{false};
    std::thread watcher([&] { // the window's status display
        while (!done.load()) {
            EXPECT_TRUE(recording->IsOpen());
            EXPECT_FALSE(recording->HasFailed());
            EXPECT_LE(recording->GetFramesWritten(), kFrames);
            EXPECT_TRUE(recording->GetLastError().empty());
        }
    });
    Offer(*recording, 4, 1, kFrames); // this thread is the save worker
    Offer(*recording, 4, 1, kFrames); // the same frames again: dropped
    done.store(true);
    watcher.join();

    recording.reset();
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 22 + 8 * (1 + kFrames));
    for (uint32_t n = 1; n <= kFrames; ++n) { // each record: the frame's sequence number, its time
        EXPECT_EQ(GetLe32(&file[22 + 8 * n]), n);
        EXPECT_EQ(GetLe32(&file[22 + 8 * n + 4]), 960 + 40 * n);
    }
}

} // namespace
} // namespace quillon::test
