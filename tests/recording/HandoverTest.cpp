// Frames reach a recording from the save worker and from the user-interface thread, one at a
// time, while the window asks for the recording's state: nothing is lost or torn on the way.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "TestSupport.h"
#include "recording/ByteFields.h"
#include "recording/FrameAdmission.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

constexpr uint32_t kRounds = 40;
constexpr uint32_t kFramesPerTurn = 5;

// Who may write next, as the save path's events decide it.
class Turn {
public:
    void Give(bool worker) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bWorker = worker;
        }
        m_changed.notify_all();
    }
    void Await(bool worker) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_bWorker == worker; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bWorker = true;
};

TEST(Handover, WorkerAndInterfaceThreadTakeTurnsWithoutLosingFrames) {
    CQuillonFile::ResetAdmission();
    test::TempDir dir;
    const std::string path = dir.File("turns.vlv");
    auto recording = std::make_unique<CQuillonFile>(path, 25, 4, 1);
    Turn turn;
    std::atomic<uint32_t> sequence{0};
    auto writeTurn = [&] {
        for (uint32_t i = 0; i < kFramesPerTurn; ++i) {
            uint8_t frame[4];
            const uint32_t n = ++sequence;
            PutLe32(frame, n);
            recording->WriteFrame(4, 1, frame, 8, n * 10);
            recording->WriteFrame(4, 1, frame, 8, n * 10); // the same frame again: dropped
        }
    };
    std::atomic<bool> done{false};
    std::thread watcher([&] { // the window's status display
        while (!done.load()) {
            EXPECT_TRUE(recording->IsOpen());
            EXPECT_FALSE(recording->HasFailed());
            EXPECT_LE(recording->GetFramesWritten(), 2 * kRounds * kFramesPerTurn);
            EXPECT_TRUE(recording->GetLastError().empty());
        }
    });
    std::thread worker([&] {
        for (uint32_t round = 0; round < kRounds; ++round) {
            turn.Await(true);
            writeTurn();
            turn.Give(false);
        }
    });
    for (uint32_t round = 0; round < kRounds; ++round) {
        turn.Await(false);
        writeTurn();
        turn.Give(true);
    }
    worker.join();
    done.store(true);
    watcher.join();

    EXPECT_EQ(recording->GetFramesWritten(), 2 * kRounds * kFramesPerTurn);
    EXPECT_EQ(FrameAdmission::LastSequence(), 2 * kRounds * kFramesPerTurn);
    recording.reset();
    const std::vector<uint8_t> file = test::ReadBytes(path);
    ASSERT_EQ(file.size(), 22 + 8 * (1 + 2 * kRounds * kFramesPerTurn));
    for (uint32_t n = 1; n <= 2 * kRounds * kFramesPerTurn; ++n) {
        EXPECT_EQ(GetLe32(&file[22 + 8 * n]), n);
        EXPECT_EQ(GetLe32(&file[22 + 8 * n + 4]), n * 10);
    }
}

} // namespace
} // namespace quillon
