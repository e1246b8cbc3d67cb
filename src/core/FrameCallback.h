#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "FrameHandOver.h"
#include "FrameIntake.h"

namespace quillon {

// What the camera thread may read of the rest of the recorder, kept current by the
// user-interface thread: plain atomics, no locks.
struct CameraThreadView {
    const std::atomic<int32_t>* raceState = nullptr; // the race's own state word
    std::atomic<bool> hostConnected{false};
    std::atomic<float> frameRate{25.0f};
    // The picture settings in effect (FrameAdjustment::Pack), kept with every recorded frame.
    std::atomic<uint32_t> adjustment{FrameAdjustment{}.Pack()};

    bool RaceStarted() const;
};

// Runs on the camera's thread for every delivered frame: drops repeated deliveries, numbers
// the frame, gives it to the recording's intake, hands it over to the preview on the
// user-interface thread and now and then asks the host for the race time.
class FrameCallback {
public:
    using Notify = std::function<void()>;

    FrameCallback(FrameIntake& intake, FrameHandOver& handOver, const CameraThreadView& view,
                  Notify frameReady, Notify requestTime)
        : m_intake(intake), m_handOver(handOver), m_view(view), m_frameReady(std::move(frameReady)),
          m_requestTime(std::move(requestTime)) {}

    // The camera interface's callback shape: context is the FrameCallback.
    static void OnFrame(void* context, uint8_t* data, uint32_t length) {
        static_cast<FrameCallback*>(context)->HandleFrame(data, length);
    }

    void HandleFrame(uint8_t* data, size_t length);

    uint32_t SequenceNumber() const { return m_sequence.load(std::memory_order_relaxed); }
    uint32_t RepeatedDeliveries() const { return m_repeats.load(std::memory_order_relaxed); }

private:
    FrameIntake& m_intake;
    FrameHandOver& m_handOver;
    const CameraThreadView& m_view;
    const Notify m_frameReady;
    const Notify m_requestTime;

    // Camera thread only, except the counters read for the window's statistics.
    uint16_t m_lastMarker = 0;
    uint32_t m_framesSinceTimeRequest = 0;
    std::atomic<uint32_t> m_sequence{0};
    std::atomic<uint32_t> m_repeats{0};
};

// The sequence number that the callback wrote over a raw frame's first four bytes.
uint32_t ReadSequenceNumber(const uint8_t* frame);

} // namespace quillon
