#pragma once

// The process-wide rule that decides whether a frame goes into a recording, by its sequence
// number: a number far from the last admitted one (a jump of more than 1,500,000) is taken for
// garbage, unless ten frames in a row have already been turned away for it; outside every-frame
// mode a number that is not newer than the last admitted one is a repeat and is dropped.
//
// The state is shared by all recordings and carries over from one to the next. Frames are
// written by one thread at a time (the save worker or the user-interface thread, which hand the
// recording over through the save path's events); the atomics make that hand-over sound.

#include <atomic>
#include <cstdint>

namespace quillon {

class FrameAdmission {
public:
    static constexpr uint32_t kMaxSequenceJump = 1500000;
    static constexpr uint32_t kRejectionsBeforeResync = 10;

    static bool Admit(uint32_t sequence, bool everyFrame);

    static uint32_t LastSequence() { return s_lastSequence.load(std::memory_order_acquire); }
    static uint32_t Rejections() { return s_rejections.load(std::memory_order_acquire); }
    // Back to the state at process start; for tests.
    static void Reset();

private:
    static std::atomic<uint32_t> s_lastSequence;
    static std::atomic<uint32_t> s_rejections;
};

} // namespace quillon
