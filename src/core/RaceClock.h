#pragma once

#include <atomic>
#include <cstdint>

#include "TickSource.h"

namespace quillon {

// The host's race time: the time of the last sync, run on with the local tick count since.
//
// Threads: synced on the user-interface thread; read from any thread (the camera thread stamps
// every frame with it as it is delivered). The sync point (race time and tick) is one atomic
// word, so a reader never pairs the race time of one sync with the tick of another.
class RaceClock {
public:
    explicit RaceClock(const TickSource& ticks) : m_ticks(ticks) {}

    // The race time is `raceTime` at local tick `tick`.
    void SyncAt(uint32_t raceTime, uint32_t tick) {
        m_sync.store(uint64_t(raceTime) << 32 | tick, std::memory_order_release);
    }
    void SyncNow(uint32_t raceTime) { SyncAt(raceTime, m_ticks.Now()); }

    uint32_t Now() const {
        const uint64_t sync = m_sync.load(std::memory_order_acquire);
        return uint32_t(sync >> 32) + (m_ticks.Now() - uint32_t(sync));
    }
    uint32_t RaceTimeAtSync() const {
        return uint32_t(m_sync.load(std::memory_order_acquire) >> 32);
    }
    uint32_t SyncTick() const { return uint32_t(m_sync.load(std::memory_order_acquire)); }

private:
    const TickSource& m_ticks;
    std::atomic<uint64_t> m_sync{0};
};

} // namespace quillon
