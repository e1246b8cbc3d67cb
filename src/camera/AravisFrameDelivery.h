#pragma once

#include "camera/BayerConversion.h"
#include "camera/CameraApi.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

typedef struct _ArvBuffer ArvBuffer;

namespace quillon {

// The road from an Aravis stream buffer to the recorder's frame callback, and the counts of what
// the camera lost on the way. One lives as long as the camera API and serves every stream it
// makes, so the callback and the counts survive a camera that is lost and opened again.
//
// Threads: Deliver runs on Aravis's stream thread, one stream at a time. The callback pair is
// guarded by m_callbackMutex, held while the callback runs, so that ClearCallback returns only
// once no callback runs any more. Everything else is atomic.
class AravisFrameDelivery {
public:
    using Clock = std::chrono::steady_clock;

    bool SetCallback(StreamingCallback callback, void* context);
    void ClearCallback();

    // With it on, the frame's first two bytes carry the low 16 bits of its frame id,
    // big-endian, so consecutive frames differ there whatever the camera sends.
    void SetDistinctFirstBytes(bool on) { m_distinct.store(on, std::memory_order_relaxed); }
    // The tile of the Bayer frames the stream sends (a BayerPattern), or kGreyFrames.
    void SetPattern(int pattern) { m_pattern.store(pattern, std::memory_order_relaxed); }
    static constexpr int kGreyFrames = -1;
    int Pattern() const { return m_pattern.load(std::memory_order_relaxed); }

    // A new stream starts: frame ids are counted afresh and the silence clock starts now.
    void StreamStarting();
    // Stream thread: one buffer the stream filled (or failed to fill). Incomplete or failed
    // buffers, and frames the camera skipped, count as lost and are never handed on.
    void Deliver(ArvBuffer* buffer);

    // The next good frame measures its colour means for a grey-world white balance.
    void RequestGreyWorld() { m_greyWorldWanted.store(true, std::memory_order_relaxed); }
    // The measured factors (blue, green, red, green at 1) once one was measured since the last
    // call; false otherwise.
    bool TakeGreyWorld(float& blue, float& red);

    void AddLost(uint64_t frames) { m_lost.fetch_add(frames, std::memory_order_relaxed); }
    uint64_t Lost() const { return m_lost.load(std::memory_order_relaxed); }
    uint64_t Delivered() const { return m_delivered.load(std::memory_order_relaxed); }
    // When the stream last produced a buffer, good or not.
    Clock::time_point LastBuffer() const;

private:
    void MeasureGreyWorld(const uint8_t* data, uint32_t width, uint32_t height);

    std::mutex m_callbackMutex;
    StreamingCallback m_callback = nullptr; // m_callbackMutex
    void* m_context = nullptr;              // m_callbackMutex

    std::atomic<bool> m_distinct{false};
    std::atomic<int> m_pattern{kGreyFrames}; // a BayerPattern, or kGreyFrames
    std::atomic<uint64_t> m_lastFrameId{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<uint64_t> m_delivered{0};
    std::atomic<Clock::rep> m_lastBuffer{0};
    std::atomic<bool> m_greyWorldWanted{false};
    std::atomic<bool> m_greyWorldReady{false};
    std::atomic<float> m_greyWorldBlue{1.0f};
    std::atomic<float> m_greyWorldRed{1.0f};
};

} // namespace quillon
