#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/FrameCallback.h"
#include "core/FrameHandOver.h"
#include "core/RaceStateMachine.h"
#include "core/TickSource.h"

namespace quillon {
namespace {

std::vector<uint8_t> Frame(uint16_t marker, size_t size = 64) {
    std::vector<uint8_t> f(size, 0x55);
    f[0] = uint8_t(marker >> 8);
    f[1] = uint8_t(marker);
    return f;
}

// The callback's recording side, never armed here.
struct IdleIntake {
    ManualTickSource ticks;
    RaceClock clock{ticks};
    std::atomic<int32_t> state{kIdle};
    std::atomic<uint32_t> adjustment{0};
    FrameIntake intake{clock, state, adjustment};
};

struct CallbackFixture : ::testing::Test {
    std::vector<uint8_t> copy = std::vector<uint8_t>(64);
    FrameHandOver handOver{copy.data(), copy.size()};
    CameraThreadView view;
    IdleIntake idle;
    int notices = 0;
    int requests = 0;
    FrameCallback callback{idle.intake, handOver, view, [this] { ++notices; },
                           [this] { ++requests; }};
};

TEST_F(CallbackFixture, RepeatedDeliveriesAreIgnoredAndFramesNumbered) {
    auto zero = Frame(0);
    callback.HandleFrame(zero.data(), zero.size()); // equals the initial marker: ignored
    EXPECT_EQ(callback.SequenceNumber(), 0u);
    auto a = Frame(7), again = Frame(7), b = Frame(8);
    callback.HandleFrame(a.data(), a.size());
    callback.HandleFrame(again.data(), again.size());
    EXPECT_EQ(callback.SequenceNumber(), 1u);
    EXPECT_EQ(callback.RepeatedDeliveries(), 2u);
    EXPECT_EQ(ReadSequenceNumber(a.data()), 1u);
    EXPECT_EQ(notices, 1);
    // Not taken yet: the newer frame replaces the copy without a second notice.
    callback.HandleFrame(b.data(), b.size());
    EXPECT_EQ(notices, 1);
    size_t length = 0;
    const uint8_t* taken = handOver.Take(length);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(ReadSequenceNumber(taken), 2u);
    // While processing, frames are not handed over at all.
    auto c = Frame(9);
    callback.HandleFrame(c.data(), c.size());
    EXPECT_EQ(handOver.BusyDrops(), 1u);
    handOver.Release();
    EXPECT_EQ(handOver.Take(length), nullptr);
}

TEST_F(CallbackFixture, ClockRequestOnTheFrameAfterOneSecondsWorth) {
    std::atomic<int32_t> state{kStarted};
    view.raceState = &state;
    view.frameRate = 25.0f;
    view.hostConnected = true;
    for (uint16_t i = 1; i <= 25; ++i) {
        auto f = Frame(i);
        callback.HandleFrame(f.data(), f.size());
    }
    EXPECT_EQ(requests, 0);
    auto f26 = Frame(26);
    callback.HandleFrame(f26.data(), f26.size());
    EXPECT_EQ(requests, 1);
    view.hostConnected = false;
    for (uint16_t i = 27; i <= 80; ++i) {
        auto f = Frame(i);
        callback.HandleFrame(f.data(), f.size());
    }
    EXPECT_EQ(requests, 1);
}

// A camera thread at full speed against a slow reader: every frame the reader takes is whole
// (all bytes of one frame), numbers only rise, and every frame is either taken, replaced or
// counted as dropped. Run under ThreadSanitizer this also checks the hand-over itself.
TEST(FrameHandOverThreads, ReaderNeverSeesAMixedFrame) {
    constexpr size_t kSize = 4096;
    std::vector<uint8_t> copy(kSize);
    FrameHandOver handOver(copy.data(), kSize);
    CameraThreadView view;
    std::atomic<int> notices{0};
    IdleIntake idle;
    FrameCallback callback(
        idle.intake, handOver, view, [&] { ++notices; }, [] {});
    std::atomic<bool> done{false};
    std::thread camera([&] {
        std::vector<uint8_t> frame(kSize);
        for (uint32_t n = 1; n <= 20000; ++n) {
            std::fill(frame.begin() + 4, frame.end(), uint8_t(n));
            frame[0] = uint8_t(n >> 8);
            frame[1] = uint8_t(n);
            if (frame[0] == 0 && frame[1] == 0)
                frame[1] = 1;
            callback.HandleFrame(frame.data(), frame.size());
        }
        done = true;
    });
    uint32_t last = 0, taken = 0;
    for (;;) {
        size_t length = 0;
        const bool finished = done; // read first: a frame taken after this is the last one
        const uint8_t* f = handOver.Take(length);
        if (f == nullptr) {
            if (finished)
                break;
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(length, kSize);
        const uint32_t seq = ReadSequenceNumber(f);
        ASSERT_GT(seq, last);
        for (size_t i = 5; i < kSize; ++i)
            ASSERT_EQ(f[i], f[4]);
        last = seq;
        ++taken;
        handOver.Release();
    }
    camera.join();
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(taken + handOver.Skipped(), callback.SequenceNumber());
}

} // namespace
} // namespace quillon
