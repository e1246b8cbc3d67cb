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
    // Every frame once, after the opening frame: 4 bytes of picture and 4 of time each.
    EXPECT_EQ(FileSize(path), 22 + 8 * (1 + kFrames));
}

} // namespace
} // namespace quillon::test
