#include "shmem/HostBlock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace quillon {
namespace {

TEST(HostBlockTest, FieldsDecodeWithTheirByteOrders) {
    uint8_t raw[40] = {};
    raw[0] = 0x34; // flags 0x1234: the recorder reads bits of byte 1
    raw[1] = 0x12;
    raw[4] = 0x01, raw[5] = 0x02, raw[6] = 0x03, raw[7] = 0x04;
    raw[8] = 0xFF, raw[11] = 0x01;
    raw[20] = 0x80, raw[23] = 0x02;
    const double scale = 0.25;
    std::memcpy(raw + 32, &scale, 8);
    const HostBlock block = DecodeHostBlock(raw, sizeof raw);
    EXPECT_EQ(block.flags, 0x1234);
    EXPECT_EQ(block.counter, 0x01020304u);
    EXPECT_EQ(block.t1, 0xFF000001u);
    EXPECT_EQ(block.t0, 0x80000002u);
    EXPECT_EQ(block.scale, 0.25);
    // A short block reads as zeros past its end.
    EXPECT_EQ(DecodeHostBlock(raw, 6).counter, 0x01020000u);
    EXPECT_EQ(DecodeHostBlock(nullptr, 40).flags, 0);
}

TEST(HostBlockTest, RaceTimeWrapsScalesAndTruncates) {
    struct Case {
        uint32_t t1, t0;
        double scale;
        uint32_t ms;
    } const cases[] = {
        {12345, 345, 1000.0, 12000},                         // counts in milliseconds
        {5, 0xFFFFFFFBu, 1000.0, 10},                        // t1 < t0: the clock passed 2^32
        {100, 200, 1000.0, 0xFFFFFF9Cu},                     // not negative: wraps to a large time
        {1999, 0, 1.0, 1},                                   // 1.999 ms truncates
        {10, 0, 100.0, 1},                                   // 100 us counts
        {0xFFFFFFFFu, 0, 10000.0, uint32_t(42949672950ull)}, // low 32 bits of a 64-bit time
        {10, 0, -1000.0, uint32_t(-10)}, // a negative scale truncates toward zero
        {10, 0, std::numeric_limits<double>::quiet_NaN(), 0},
        {10, 0, std::numeric_limits<double>::infinity(), 0},
        {0xFFFFFFFFu, 0, 1e300, 0}, // beyond 64 bits
    };
    for (const Case& c : cases) {
        HostBlock block;
        block.t1 = c.t1;
        block.t0 = c.t0;
        block.scale = c.scale;
        EXPECT_EQ(block.RaceTime(), c.ms) << c.t1 << " " << c.t0 << " " << c.scale;
    }
}

TEST(HostBlockTest, PollDecidesByTheFirstRuleThatApplies) {
    const unsigned open = kPollSetClock | kPollArrival;
    struct Case {
        uint16_t flags;
        uint32_t counter;
        PollSituation now; // ready, started, arrival open, last counter
        unsigned steps;
    } const cases[] = {
        // First poll after start, running, counter 7 over the last 0: an arrival.
        {0x0800, 7, {false, true, false, 0}, open},
        {0x0800, 7, {false, true, false, 7}, kPollSetClock}, // the same counter again
        {0x0800, 3, {false, true, false, 7}, kPollSetClock}, // a smaller one opens nothing
        {0x0400, 9, {true, false, false, 7}, 0},             // a step without running
        // The arrival bit opens once; while it stays, only the clock follows the host.
        {0x1800, 0, {false, true, false, 0}, open},
        {0x1800, 0, {false, true, true, 0}, kPollSetClock},
        {0x1000, 0, {false, false, false, 0}, kPollStart | open}, // not started yet
        // Running: start, or end an open arrival; the clock follows.
        {0x0800, 0, {true, false, false, 0}, kPollStart | kPollSetClock},
        {0x0800, 0, {false, true, true, 0}, kPollEndArrival | kPollSetClock},
        {0x0C00, 0, {false, true, false, 0}, kPollSetClock},
        // Ready once; flags 0 and foreign bits are idle at every poll.
        {0x0400, 0, {false, false, false, 0}, kPollReady},
        {0x0400, 0, {true, false, false, 0}, 0},
        {0x0000, 0, {false, false, false, 0}, kPollIdle},
        {0xE3FF, 99, {false, true, true, 0}, kPollIdle},
        // Idle with the arrival time left at 0 is no open arrival.
        {0x0800, 1, {false, false, true, 0}, kPollStart | open},
    };
    for (const Case& c : cases) {
        HostBlock block;
        block.flags = c.flags;
        block.counter = c.counter;
        EXPECT_EQ(DecidePoll(block, c.now), c.steps)
            << std::hex << c.flags << " counter " << c.counter << " last " << c.now.lastCounter;
    }
}

} // namespace
} // namespace quillon
