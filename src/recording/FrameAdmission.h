#pragma once

// The rule that decides whether a frame goes into a recording, by its sequence number: a number
// far from the last admitted one (a jump of more than 1,500,000) is taken for garbage, unless ten
// frames in a row have already been turned away for it; outside every-frame mode a number that is
// not newer than the last admitted one is a repeat and is dropped.
//
// Whoever owns the recordings owns one FrameAdmission and hands it to each recording in turn, so
// the last number carries over from one recording to the next; a recording given none judges its
// frames on its own, from a fresh state.
//
// Threads: Admit runs on the thread that writes the recording, one recording at a time (the save
// path hands recordings over); the atomics let that hand-over and the counters' readers be sound.

#include <atomic>
#include <cstdint>

namespace quillon {

class FrameAdmission {
public:
    static constexpr uint32_t kMaxSequenceJump = 1500000;
    static constexpr uint32_t kRejectionsBeforeResync = 10;

    bool Admit(uint32_t sequence, bool everyFrame);

    uint32_t LastSequence() const { return m_lastSequence.load(std::memory_order_acquire); }
    uint32_t Rejections() const { return m_rejections.load(std::memory_order_acquire); }

private:
    std::atomic<uint32_t> m_lastSequence{0};
    std::atomic<uint32_t> m_rejections{0};
};

} // namespace quillon
