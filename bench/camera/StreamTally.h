// What a camera benchmark's frame callback records: frames delivered, and the wall and processor
// time of the thread that delivers them, from the first frame to the last.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>

namespace quillon::bench {

inline double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Filled on the delivering thread; read after the stream has stopped.
struct StreamTally {
    uint32_t frames = 0;
    double firstCpu = 0, lastCpu = 0;
    std::chrono::steady_clock::time_point firstWall, lastWall;

    static void Callback(void* context, uint8_t* data, uint32_t) {
        auto* tally = static_cast<StreamTally*>(context);
        benchmark::DoNotOptimize(data[0]);
        const double cpu = ThreadCpuSeconds();
        const auto wall = std::chrono::steady_clock::now();
        if (tally->frames++ == 0) {
            tally->firstCpu = cpu;
            tally->firstWall = wall;
        }
        tally->lastCpu = cpu;
        tally->lastWall = wall;
    }
};

} // namespace quillon::bench
