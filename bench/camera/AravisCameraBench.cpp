// The Aravis backend streaming 800 x 400 from Aravis's fake GigE Vision camera (started here on
// 127.0.0.1): frames delivered per second against the rate the camera was set to, and the
// processor time of the stream thread (Aravis's receiving thread, which also runs our frame
// callback) per delivered frame. The callback only counts, so the figures are the camera path's
// own cost. The fake camera runs on the same machine and takes processor time of its own.
#include "camera/AravisCameraApi.h"
#include "common/FakeGvCamera.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "StreamTally.h"

namespace {

using namespace quillon;
using quillon::bench::StreamTally;

// Arguments: requested frames per second, milliseconds of streaming.
void BM_AravisStream(benchmark::State& state) {
    const auto rate = float(state.range(0));
    const auto duration = std::chrono::milliseconds(state.range(1));
    testing::FakeGvCamera fake;
    if (!fake.Start()) {
        state.SkipWithError("arv-fake-gv-camera-0.8 (package aravis-tools) did not start");
        return;
    }
    AravisCameraApi api(testing::FakeGvCamera::kId);
    const CameraHandle handle = api.CameraOpen(1);
    if (handle == kNoCameraHandle) {
        state.SkipWithError("the fake camera did not open");
        return;
    }
    const FrameFormat format{624, 824, 800, 400, kPixelFormatBayerRggb8};
    api.SetFormat(handle, format, rate);
    api.SetProperty(handle, kPropExposure, 1.0f, 0);
    StreamTally tally;
    api.AddStreamingCallback(handle, &StreamTally::Callback, &tally);

    uint64_t lost = 0;
    for (auto _ : state) {
        tally = StreamTally{};
        const uint64_t lostBefore = api.LostFrames(handle);
        api.StreamVideoControl(handle, StreamMode::kStart);
        std::this_thread::sleep_for(duration);
        api.StreamVideoControl(handle, StreamMode::kStop); // returns after the last callback
        lost = api.LostFrames(handle) - lostBefore;
    }
    api.CameraClose(handle);
    const double wall = std::chrono::duration<double>(tally.lastWall - tally.firstWall).count();
    if (tally.frames < 2 || wall <= 0) {
        state.SkipWithError("too few frames");
        return;
    }
    const double fps = (tally.frames - 1) / wall;
    state.counters["camera_fps"] = rate;
    state.counters["delivered_fps"] = fps;
    state.counters["delivered_ratio"] = fps / rate;
    state.counters["cpu_us_per_frame"] =
        1e6 * (tally.lastCpu - tally.firstCpu) / (tally.frames - 1);
    state.counters["lost"] = double(lost);
    state.SetLabel("800x400");
}
BENCHMARK(BM_AravisStream)
    ->Args({25, 4000})
    ->Args({200, 3000})
    ->Args({500, 3000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
