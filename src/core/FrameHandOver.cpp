#include "FrameHandOver.h"

#include <algorithm>
#include <cstring>

namespace quillon {

FrameHandOver::Offer FrameHandOver::OfferFrame(const uint8_t* data, size_t length) {
    uint32_t expected = kFree;
    if (!m_state.compare_exchange_strong(expected, kWriting, std::memory_order_acquire)) {
        // Replace a copy that waits to be taken; never touch one that is being processed.
        if (expected != kReady ||
            !m_state.compare_exchange_strong(expected, kWriting, std::memory_order_acquire)) {
            m_busyDrops.fetch_add(1, std::memory_order_relaxed);
            return Offer::Busy;
        }
        m_replaced.fetch_add(1, std::memory_order_relaxed); // that copy is never shown
    }
    m_length = std::min(length, m_capacity);
    std::memcpy(m_buffer, data, m_length);
    m_state.store(kReady, std::memory_order_release);
    return m_noticePending.exchange(true, std::memory_order_acq_rel) ? Offer::Replaced
                                                                     : Offer::Announce;
}

const uint8_t* FrameHandOver::Take(size_t& length) {
    // Clear the notice first: a copy finished after this point sends a new one.
    m_noticePending.store(false, std::memory_order_release);
    uint32_t expected = kReady;
    if (!m_state.compare_exchange_strong(expected, kProcessing, std::memory_order_acquire)) {
        return nullptr;
    }
    length = m_length;
    return m_buffer;
}

void FrameHandOver::Release() {
    m_state.store(kFree, std::memory_order_release);
}

} // namespace quillon
