#include "recording/FrameAdmission.h"

namespace quillon {

std::atomic<uint32_t> FrameAdmission::s_lastSequence{0};
std::atomic<uint32_t> FrameAdmission::s_rejections{0};

bool FrameAdmission::Admit(uint32_t sequence, bool everyFrame) {
    const uint32_t last = s_lastSequence.load(std::memory_order_acquire);
    const uint32_t rejections = s_rejections.load(std::memory_order_acquire);
    const uint32_t distance = sequence > last ? sequence - last : last - sequence;
    if (rejections < kRejectionsBeforeResync && distance > kMaxSequenceJump) {
        s_rejections.store(rejections + 1, std::memory_order_release);
        return false;
    }
    s_rejections.store(0, std::memory_order_release);
    if (sequence <= last && !everyFrame)
        return false;
    s_lastSequence.store(sequence, std::memory_order_release);
    return true;
}

void FrameAdmission::Reset() {
    s_lastSequence.store(0, std::memory_order_release);
    s_rejections.store(0, std::memory_order_release);
}

} // namespace quillon
