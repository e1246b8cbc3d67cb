// The simulated camera streaming at a requested rate: frames delivered per second of wall time,
// and the processor time its streaming thread uses per second of streaming (cpu_pct: 100 is one
// whole core). The callback only counts, so the figures are the camera's own cost.
#include "camera/SimCameraApi.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "StreamTally.h"

namespace {

using quillon::CameraHandle;
using quillon::FrameFormat;
using quillon::SimCameraApi;
using quillon::StreamMode;
using quillon::bench::StreamTally;

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
