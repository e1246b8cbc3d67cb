#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "FrameRing.h"
#include "RaceClock.h"
#include "SaveWorker.h"

namespace quillon {

// Keeps every frame the camera delivers while a race runs: its raw bytes, its number, the
// race time read at that moment and the picture settings in effect, in the ring. Runs on the
// camera's thread, so whether a frame is recorded never depends on the user-interface thread.
//
// Threads: Take runs on the camera thread. Arm and Disarm run on the user-interface thread;
// they exclude a Take in progress with a mutex that Take only tries (a frame that meets a
// recording being set up is not kept), so the camera thread never waits. The ring's consumer
// side belongs to the save worker.
class FrameIntake {
public:
    // The race time stamped on frames must rise; a clock sync may step it back by a few ms.
    // Larger steps back are the host's clock restarting: taken as they are.
    static constexpr int32_t kMaxClockStepBackMs = 500;

    FrameIntake(const RaceClock& clock, const std::atomic<int32_t>& raceState,
                const std::atomic<uint32_t>& adjustment)
        : m_clock(clock), m_raceState(raceState), m_adjustment(adjustment) {}

    // From now on frames of `frameBytes` bytes with `reduction` go into `ring` while the race is
    // started. Called with the worker stopped.
    // `wake` is told of every frame kept.
    void Arm(FrameRing& ring, size_t frameBytes, uint8_t reduction, WakeSignal& wake);
    // No frame goes into any ring; returns once no Take uses the old one.
    void Disarm();

    // Camera thread: one delivered frame (its number already in its first four bytes).
    void Take(const uint8_t* raw, size_t length, uint32_t sequence);

    // Frames that met a recording being set up.
    uint64_t MissedWhileArming() const { return m_missed.load(std::memory_order_relaxed); }

private:
    uint32_t NextFrameTime();

    const RaceClock& m_clock;
    const std::atomic<int32_t>& m_raceState;
    const std::atomic<uint32_t>& m_adjustment;

    std::mutex m_mutex; // guards everything below
    FrameRing* m_ring = nullptr;
    WakeSignal* m_wake = nullptr;
    size_t m_frameBytes = 0;
    uint8_t m_reduction = 1;
    uint32_t m_lastFrameTime = 0; // the time given to the last frame kept for this recording
    bool m_haveFrameTime = false;
    std::atomic<uint64_t> m_missed{0};
};

} // namespace quillon
