#include "FrameRing.h"

#include <cstring>
#include <new>

namespace quillon {

bool FrameRing::Create(int32_t length, size_t frameBytes) {
    m_slots = std::vector<FrameSlot>();
    m_store.reset();
    m_frameBytes = 0;
    if (length <= 0) return false;
    // Made once per ring; the pages are only touched as frames arrive.
    m_store.reset(new (std::nothrow) uint8_t[size_t(length) * frameBytes]);
    if (!m_store) return false;
    m_slots = std::vector<FrameSlot>(size_t(length));
    m_frameBytes = frameBytes;
    for (size_t i = 0; i < m_slots.size(); ++i) m_slots[i].data = m_store.get() + i * frameBytes;
    return true;
}

void FrameRing::Clear() {
    for (FrameSlot& slot : m_slots) slot.state.store(kSlotEmpty, std::memory_order_release);
}

bool FrameRing::StoreFrame(SlotState state, const uint8_t* frame, size_t bytes, uint32_t time,
                           uint32_t sequence, int32_t index) {
    FrameSlot& slot = m_slots[size_t(index)];
    uint16_t current = slot.state.load(std::memory_order_acquire);
    // Only empty, buffered and written slots may be overwritten; a buffered one only if the
    // worker has not claimed it first.
    do {
        if (current != kSlotEmpty && current != kSlotBuffered && current != kSlotWritten) {
            return false;
        }
    } while (!slot.state.compare_exchange_weak(current, kSlotFilling, std::memory_order_acquire));
    std::memcpy(slot.data, frame, bytes < m_frameBytes ? bytes : m_frameBytes);
    slot.time = time;
    slot.sequence = sequence;
    slot.state.store(state, std::memory_order_release);
    return true;
}

int32_t FrameRing::FindNearestSlot(uint32_t time, std::optional<uint32_t> after) const {
    int32_t nearest = -1;
    uint32_t best = 0;
    for (int32_t i = 0; i < Length(); ++i) {
        if (State(i) != kSlotBuffered) continue;
        const uint32_t t = m_slots[size_t(i)].time;
        if (after && int32_t(t - *after) <= 0) continue;
        const uint32_t distance = t > time ? t - time : time - t;
        if (nearest < 0 || distance < best) {
            nearest = i;
            best = distance;
        }
    }
    return nearest;
}

bool FrameRing::ClaimForWriting(int32_t index, uint16_t expected) {
    return m_slots[size_t(index)].state.compare_exchange_strong(expected, kSlotWriting,
                                                                std::memory_order_acquire);
}

void FrameRing::MarkWritten(int32_t index) {
    m_slots[size_t(index)].state.store(kSlotWritten, std::memory_order_release);
}

}  // namespace quillon
