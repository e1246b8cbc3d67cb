#pragma once

#include "camera/CameraApi.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace quillon::testing {

// A frame callback for tests: keeps the newest frame, counts frames, frames of an unexpected
// length, consecutive frames whose first two bytes repeat and counter jumps. After Seal() any
// further delivery counts as a late call.
class FrameCatcher {
public:
    static constexpr uint32_t kMaxFrameBytes = 2048 * 1536;

    FrameCatcher();

    static void Callback(void* context, uint8_t* data, uint32_t length);
    StreamingCallback Function() const { return &FrameCatcher::Callback; }
    void* Context() { return this; }

    void ExpectLength(uint32_t length);
    // Waits for `count` more frames; false if they do not come within a generous time, so a
    // dead stream fails the test instead of hanging it.
    bool WaitForFrames(uint32_t count);
    void Seal(bool sealed = true) { m_sealed.store(sealed); }

    uint32_t Frames() const;
    uint32_t WrongLengths() const;
    uint32_t RepeatedMarkers() const;
    // Consecutive frames whose counter did not go up by exactly one.
    uint32_t CounterJumps() const;
    uint32_t LateCalls() const { return m_lateCalls.load(); }
    std::vector<uint8_t> LastFrame() const;

private:
    void OnFrame(const uint8_t* data, uint32_t length);

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<uint8_t> m_last;
    uint32_t m_lastLength = 0;
    uint32_t m_frames = 0;
    uint32_t m_expectedLength = 0;
    uint32_t m_wrongLengths = 0;
    uint32_t m_repeatedMarkers = 0;
    uint32_t m_counterJumps = 0;
    int32_t m_previousMarker = -1;
    std::atomic<bool> m_sealed{false};
    std::atomic<uint32_t> m_lateCalls{0};
};

} // namespace quillon::testing
