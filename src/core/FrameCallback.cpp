#include "FrameCallback.h"

#include "RaceStateMachine.h"

namespace quillon {

bool CameraThreadView::RaceStarted() const {
    return raceState != nullptr && raceState->load(std::memory_order_acquire) == kStarted;
}

void FrameCallback::HandleFrame(uint8_t* data, size_t length) {
    if (data == nullptr || length < 4)
        return;
    // The camera makes the first two bytes of each new frame differ from the last one's; equal
    // bytes mean the driver delivered the same frame again.
    const uint16_t marker = uint16_t(data[0] << 8 | data[1]);
    if (marker == m_lastMarker) {
        m_repeats.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    m_lastMarker = marker;
    ++m_framesSinceTimeRequest;

    const uint32_t sequence = m_sequence.fetch_add(1, std::memory_order_relaxed) + 1;
    data[0] = uint8_t(sequence);
    data[1] = uint8_t(sequence >> 8);
    data[2] = uint8_t(sequence >> 16);
    data[3] = uint8_t(sequence >> 24);

    m_intake.Take(data, length, sequence);
    if (m_handOver.OfferFrame(data, length) == FrameHandOver::Offer::Announce)
        m_frameReady();

    if (m_view.RaceStarted() && m_view.hostConnected.load(std::memory_order_relaxed) &&
        float(m_framesSinceTimeRequest) > m_view.frameRate.load(std::memory_order_relaxed)) {
        m_requestTime();
        m_framesSinceTimeRequest = 0;
    }
}

uint32_t ReadSequenceNumber(const uint8_t* frame) {
    return uint32_t(frame[0]) | uint32_t(frame[1]) << 8 | uint32_t(frame[2]) << 16 |
           uint32_t(frame[3]) << 24;
}

} // namespace quillon
