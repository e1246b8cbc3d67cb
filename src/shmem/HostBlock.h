#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

// The 40 bytes a host writes at the start of the shared segment, and what the recorder makes of
// them. Pure functions of their inputs, so they can be tested and fuzzed without a segment.
//
//   offset  size  content
//   0       2     flags, little-endian: 0x1000 arrival, 0x0800 running, 0x0400 ready
//   2       2     (the host's)
//   4       4     arrival counter, big-endian
//   8       4     current clock count t1, big-endian
//   12      8     (the host's)
//   20      4     start clock count t0, big-endian
//   24      8     (the host's)
//   32      8     time scale s, IEEE-754 double, little-endian: microseconds per count
struct HostBlock {
    static constexpr size_t kBytes = 40;
    static constexpr uint16_t kArrival = 0x1000;
    static constexpr uint16_t kRunning = 0x0800;
    static constexpr uint16_t kReady = 0x0400;

    uint16_t flags = 0;
    uint32_t counter = 0;
    uint32_t t1 = 0;
    uint32_t t0 = 0;
    double scale = 0.0;

    // The race time in ms: (t1 - t0) modulo 2^32, times s / 1000, truncated toward zero, low 32
    // bits. A product that is not a number or beyond 64 bits gives 0.
    uint32_t RaceTime() const;
};

// Reads a host block from `length` bytes; bytes past `length` count as zero.
HostBlock DecodeHostBlock(const uint8_t* bytes, size_t length);

// What one poll does, as steps that run in the order of their bits.
enum PollStep : unsigned {
    kPollIdle = 1u << 0,
    kPollReady = 1u << 1,
    kPollStart = 1u << 2,
    kPollEndArrival = 1u << 3,
    kPollSetClock = 1u << 4,
    kPollArrival = 1u << 5, // opens an arrival and writes the recording's path back
};

// The recorder as the poll sees it.
struct PollSituation {
    bool ready = false;       // race state Ready
    bool started = false;     // race state Started
    bool arrivalOpen = false; // an arrival is open (only while started)
    uint32_t lastCounter = 0; // the counter the previous poll saw
};

// The first rule that applies:
// - arrival bit, or running bit with a counter above the last one: open an arrival unless one is
//   open; the race starts first if it has not, and the clock takes the host's time first;
// - running bit: start the race and take the host's time, or, when started, end an open
//   arrival and take the host's time;
// - ready bit: get ready unless ready;
// - otherwise: idle.
unsigned DecidePoll(const HostBlock& block, const PollSituation& now);

} // namespace quillon
