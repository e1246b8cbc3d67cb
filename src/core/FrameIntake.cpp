#include "FrameIntake.h"

#include <cstring>

#include "RaceStateMachine.h"

namespace quillon {

void FrameIntake::Arm(FrameRing& ring, size_t frameBytes, uint8_t reduction, WakeSignal& wake) {
    std::lock_guard lock(m_mutex);
    m_ring = &ring;
    m_wake = &wake;
    m_frameBytes = frameBytes;
    m_reduction = reduction;
    m_haveFrameTime = false;
}

void FrameIntake::Disarm() {
    std::lock_guard lock(m_mutex);
    m_ring = nullptr;
}

uint32_t FrameIntake::NextFrameTime() {
    uint32_t t = m_clock.Now();
    const int32_t step = int32_t(t - m_lastFrameTime);
    if (m_haveFrameTime && step <= 0 && step > -kMaxClockStepBackMs)
        t = m_lastFrameTime + 1;
    m_lastFrameTime = t;
    m_haveFrameTime = true;
    return t;
}

void FrameIntake::Take(const uint8_t* raw, size_t length, uint32_t sequence) {
    // Nothing is kept before START.
    if (m_raceState.load(std::memory_order_acquire) != kStarted)
        return;
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        m_missed.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (m_ring == nullptr)
        return; // no recording to keep it for
    const FrameAdjustment adjustment =
        FrameAdjustment::Unpack(m_adjustment.load(std::memory_order_acquire));
    // The frame must have the geometry the recording was made with.
    if (length != m_frameBytes || adjustment.reduction != m_reduction) {
        m_ring->CountLoss(FrameLoss::kWrongSize);
        return;
    }
    const uint32_t time = NextFrameTime();
    FrameSlot* slot = m_ring->Reserve();
    if (slot == nullptr)
        return; // full of frames the recording still needs; counted
    std::memcpy(slot->data, raw, length);
    slot->time = time;
    slot->sequence = sequence;
    slot->adjustment = adjustment;
    m_ring->Commit();
    m_wake->Signal();
}

} // namespace quillon
