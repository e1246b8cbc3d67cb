// The simulated camera streaming at a requested rate: frames delivered per second of wall time,
// and the processor time its streaming thread uses per second of streaming (cpu_pct: 100 is one
// whole core). The callback only counts, so the figures are the camera's own cost.
#include "camera/SimCameraApi.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

namespace {

using quillon::CameraHandle;
using quillon::FrameFormat;
using quillon::SimCameraApi;
using quillon::StreamMode;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Filled on the streaming thread; read after the stream has stopped.
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

// Arguments: width, height, requested frames per second, milliseconds of streaming per run.
void BM_SimStream(benchmark::State& state) {
    const auto width = uint32_t(state.range(0));
    const auto height = uint32_t(state.range(1));
    const auto rate = float(state.range(2));
    const auto duration = std::chrono::milliseconds(state.range(3));

    SimCameraApi api;
    const CameraHandle handle = api.CameraOpen(1);
    FrameFormat format;
    float current = 0;
    api.GetFormat(handle, format, current);
    format.xOffset = (2048 - width) / 16 * 8;
    format.yOffset = (1536 - height) / 16 * 8;
    format.width = width;
    format.height = height;
    if (!api.SetFormat(handle, format, rate)) {
        state.SkipWithError("format refused");
        return;
    }
    StreamTally tally;
    api.AddStreamingCallback(handle, &StreamTally::Callback, &tally);

    for (auto _ : state) {
        tally = StreamTally{};
        api.StreamVideoControl(handle, StreamMode::kStart);
        std::this_thread::sleep_for(duration);
        api.StreamVideoControl(handle, StreamMode::kStop); // returns after the last callback
    }
    const double wall = std::chrono::duration<double>(tally.lastWall - tally.firstWall).count();
    if (tally.frames < 2 || wall <= 0) {
        state.SkipWithError("too few frames");
        return;
    }
    state.counters["requested_fps"] = rate;
    state.counters["fps"] = (tally.frames - 1) / wall;
    state.counters["cpu_pct"] = 100.0 * (tally.lastCpu - tally.firstCpu) / wall;
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}
BENCHMARK(BM_SimStream)
    ->Args({800, 400, 500, 2000})
    ->Args({2048, 1536, 100, 2000})
    ->Args({800, 400, 25, 4000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
