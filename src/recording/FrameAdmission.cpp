#include "recording/FrameAdmission.h"

namespace quillon {

bool FrameAdmission::Admit(uint32_t sequence, bool everyFrame) {
    const uint32_t last = m_lastSequence.load(std::memory_order_acquire);
    const uint32_t rejections = m_rejections.load(std::memory_order_acquire);
    const uint32_t distance = sequence > last ? sequence - last : last - sequence;
    if (rejections < kRejectionsBeforeResync && distance > kMaxSequenceJump) {
        m_rejections.store(rejections + 1, std::memory_order_release);
        return false;
    }
    m_rejections.store(0, std::memory_order_release);
    if (sequence <= last && !everyFrame)
        return false;
    m_lastSequence.store(sequence, std::memory_order_release);
    return true;
}

} // namespace quillon
