#pragma once

#include "camera/CameraApi.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace quillon::testing {

// A frame callback for tests: keeps the newest frame and counts frames, frames of an unexpected
// length, consecutive frames whose first two bytes (the frame counter) repeat and counter jumps.
// After `sealed` is set any further delivery counts as a late call. The camera's thread writes
// under the mutex; the counters are atomic so that the test reads them at any time.
class FrameCatcher {
public:
    StreamingCallback Function() const {
        return [](void* self, uint8_t* data, uint32_t length) {
            static_cast<FrameCatcher*>(self)->OnFrame(data, length);
        };
    }
    void* Context() { return this; }

    // Waits for `count` more frames; false if they do not come within a generous time, so a
    // dead stream fails the test instead of hanging it.
    bool WaitForFrames(uint32_t count) {
        std::unique_lock lock(m_mutex);
        const uint32_t target = frames + count;
        return m_arrived.wait_for(lock, std::chrono::seconds(20), [&] { return frames >= target; });
    }
    std::vector<uint8_t> LastFrame() const {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

    std::atomic<uint32_t> expectedLength{0}; // 0: any length
    std::atomic<bool> sealed{false};
    std::atomic<uint32_t> frames{0}, wrongLengths{0}, repeatedMarkers{0}, counterJumps{0};
    std::atomic<uint32_t> lateCalls{0};

private:
    void OnFrame(const uint8_t* data, uint32_t length) {
        if (sealed) {
            ++lateCalls;
            return;
        }
        std::lock_guard lock(m_mutex);
        const int32_t marker = data[0] * 256 + data[1];
        repeatedMarkers += marker == m_previousMarker;
        counterJumps += m_previousMarker >= 0 && marker != ((m_previousMarker + 1) & 0xFFFF);
        wrongLengths += expectedLength != 0 && length != expectedLength;
        m_previousMarker = marker;
        m_last.assign(data, data + length); // no allocation once the largest frame has come
        ++frames;
        m_arrived.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<uint8_t> m_last;
    int32_t m_previousMarker = -1;
};

} // namespace quillon::testing
