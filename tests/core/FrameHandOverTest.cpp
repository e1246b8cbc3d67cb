#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "core/FrameCallback.h"
#include "core/FrameHandOver.h"
#include "core/RaceStateMachine.h"

namespace quillon {
namespace {

// The camera thread's frame callback, its recording side never armed, handing frames over.
struct CallbackFixture : ::testing::Test {
    static constexpr size_t kSize = 4096;
    // Delivers a frame whose first two bytes are `marker`; returns it as the callback left it.
    std::vector<uint8_t> Deliver(uint16_t marker) {
        std::vector<uint8_t> frame(kSize, 0x55);
        frame[0] = uint8_t(marker >> 8), frame[1] = uint8_t(marker);
        callback.HandleFrame(frame.data(), frame.size());
        return frame;
    }

    ManualTickSource ticks;
    RaceClock clock{ticks};
    std::atomic<int32_t> state{kIdle};
    std::atomic<uint32_t> adjustment{0};
    FrameIntake intake{clock, state, adjustment};
    std::vector<uint8_t> copy = std::vector<uint8_t>(kSize);
    FrameHandOver handOver{copy.data(), copy.size()};
    CameraThreadView view;
    int notices = 0, requests = 0;
    FrameCallback callback{intake, handOver, view, [this] { ++notices; }, [this] { ++requests; }};
};

TEST_F(CallbackFixture, RepeatsIgnoredFramesNumberedAndHandedOverClockAskedEverySecond) {
    Deliver(0); // equals the initial marker: ignored
    EXPECT_EQ(callback.SequenceNumber(), 0u);
    EXPECT_EQ(ReadSequenceNumber(Deliver(7).data()), 1u);
    Deliver(7);
    EXPECT_EQ(std::tuple(callback.SequenceNumber(), callback.RepeatedDeliveries(), notices),
              std::tuple(1u, 2u, 1));
    // Not taken yet: the newer frame replaces the copy without a second notice.
    Deliver(8);
    EXPECT_EQ(notices, 1);
    size_t length = 0;
    const uint8_t* taken = handOver.Take(length);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(ReadSequenceNumber(taken), 2u);
    // While processing, frames are not handed over at all.
    Deliver(9);
    EXPECT_EQ(handOver.BusyDrops(), 1u);
    handOver.Release();
    EXPECT_EQ(handOver.Take(length), nullptr);
    // With a race and a host the clock is asked for on the frame after one second's worth (at
    // the view's 25 fps), counting the three new frames so far.
    std::atomic<int32_t> started{kStarted};
    view.raceState = &started;
    view.hostConnected = true;
    for (uint16_t i = 10; i <= 31; ++i)
        Deliver(i);
    EXPECT_EQ(requests, 0);
    Deliver(32);
    EXPECT_EQ(requests, 1);
    view.hostConnected = false;
    for (uint16_t i = 33; i <= 86; ++i)
        Deliver(i);
    EXPECT_EQ(requests, 1);
}

// A camera thread at full speed against a slow reader: every frame the reader takes is whole
// (all bytes of one frame), numbers only rise, and every frame is either taken, replaced or
// counted as dropped. Run under ThreadSanitizer this also checks the hand-over itself.
TEST_F(CallbackFixture, ReaderOnAnotherThreadNeverSeesAMixedFrame) {
    std::atomic<bool> done{false};
    std::thread camera([&] {
        std::vector<uint8_t> frame(kSize);
        for (uint32_t n = 1; n <= 20000; ++n) {
            std::fill(frame.begin() + 4, frame.end(), uint8_t(n));
            frame[0] = uint8_t(n >> 8), frame[1] = uint8_t(n); // never 0 0, the initial marker
            callback.HandleFrame(frame.data(), frame.size());
        }
        done = true;
    });
    uint32_t last = 0, taken = 0;
    for (bool finished = false; !finished;) {
        finished = done; // read first: a frame taken after this is the last one
        size_t length = 0;
        const uint8_t* f = handOver.Take(length);
        if (f == nullptr) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(length, kSize);
        ASSERT_GT(ReadSequenceNumber(f), last);
        ASSERT_EQ(std::count(f + 4, f + kSize, f[4]), ptrdiff_t(kSize - 4));
        last = ReadSequenceNumber(f);
        ++taken;
        handOver.Release();
    }
    camera.join();
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(taken + handOver.Skipped(), callback.SequenceNumber());
}

} // namespace
} // namespace quillon
