#include "HostBlock.h"

#include <cmath>
#include <cstring>

namespace quillon {
namespace {

constexpr size_t kFlagsOffset = 0;
constexpr size_t kCounterOffset = 4;
constexpr size_t kClockOffset = 8;
constexpr size_t kStartClockOffset = 20;
constexpr size_t kScaleOffset = 32;

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace

uint32_t HostBlock::RaceTime() const {
    const uint32_t counts = t1 - t0; // wraps: a clock that passed 2^32 still counts forward
    const double ms = double(counts) * (scale / 1000.0);
    // 2^63: beyond it (and for NaN) the conversion is undefined in C++; the processor gives
    // 0x8000000000000000 there, whose low 32 bits are 0.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(std::fabs(ms) < kLimit))
        return 0;
    return uint32_t(uint64_t(int64_t(ms)));
}

HostBlock DecodeHostBlock(const uint8_t* bytes, size_t length) {
    uint8_t raw[HostBlock::kBytes] = {};
    if (bytes != nullptr)
        std::memcpy(raw, bytes, length < sizeof raw ? length : sizeof raw);
    HostBlock block;
    block.flags = uint16_t(raw[kFlagsOffset] | raw[kFlagsOffset + 1] << 8);
    block.counter = BigEndian32(raw + kCounterOffset);
    block.t1 = BigEndian32(raw + kClockOffset);
    block.t0 = BigEndian32(raw + kStartClockOffset);
    uint64_t scaleBits = 0;
    for (int i = 7; i >= 0; --i)
        scaleBits = scaleBits << 8 | raw[kScaleOffset + size_t(i)];
    std::memcpy(&block.scale, &scaleBits, sizeof block.scale);
    return block;
}

unsigned DecidePoll(const HostBlock& block, const PollSituation& now) {
    const bool running = (block.flags & HostBlock::kRunning) != 0;
    const bool arrivalOpen = now.started && now.arrivalOpen;
    if ((block.flags & HostBlock::kArrival) != 0 || (running && block.counter > now.lastCounter)) {
        // The clock follows the host even while it holds an arrival open: left alone it would
        // stop two seconds on and give every later frame the same time.
        if (arrivalOpen)
            return kPollSetClock;
        return (now.started ? 0u : unsigned(kPollStart)) | kPollSetClock | kPollArrival;
    }
    if (running) {
        if (!now.started)
            return kPollStart | kPollSetClock;
        return (arrivalOpen ? unsigned(kPollEndArrival) : 0u) | kPollSetClock;
    }
    if ((block.flags & HostBlock::kReady) != 0)
        return now.ready ? 0u : unsigned(kPollReady);
    return kPollIdle;
}

} // namespace quillon
