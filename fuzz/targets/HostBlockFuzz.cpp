// The shared-memory host block: whatever a host process writes into the segment is decoded and
// decided on, poll after poll, against a recorder that follows the steps it is given.
//
// Input: successive 40-byte host blocks (a short last one is padded with zeros).

#include <cstdint>

#include "ScratchFile.h"
#include "shmem/HostBlock.h"

namespace {

using namespace quillon;
using quillon::fuzz::Broken;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PollSituation now;
    for (size_t at = 0; at < size; at += HostBlock::kBytes) {
        const HostBlock block = DecodeHostBlock(data + at, size - at);
        block.RaceTime();
        const unsigned steps = DecidePoll(block, now);
        if ((steps & kPollArrival) && now.started && now.arrivalOpen)
            Broken("a second arrival opened while one is open");
        if ((steps & kPollEndArrival) && !(now.started && now.arrivalOpen))
            Broken("an arrival ended that is not open");
        if ((steps & kPollIdle) && steps != kPollIdle)
            Broken("idle combined with other steps");
        // The recorder takes the steps in the order of their bits.
        if (steps & kPollIdle)
            now.ready = now.started = now.arrivalOpen = false;
        if (steps & kPollReady)
            now.ready = true, now.started = now.arrivalOpen = false;
        if (steps & kPollStart)
            now.ready = false, now.started = true;
        if (steps & kPollEndArrival)
            now.arrivalOpen = false;
        if (steps & kPollArrival)
            now.arrivalOpen = true;
        now.lastCounter = block.counter;
    }
    return 0;
}
