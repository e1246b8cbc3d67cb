// How fast a camera may run before an arrival recording loses frames: the simulated camera at
// 800 x 400 streams into the real engine; an arrival is opened and closed by the race buttons'
// operations; the recording is read back with quillon-inspect and its gaps counted.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "RecorderEngine.h"
#include "RecordingGaps.h"
#include "SimulatedCamera.h"
#include "recording/QuillonFile.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;

void BM_ArrivalRecordingAtRate(benchmark::State& state) {
    const auto fps = float(state.range(0));
    const int filetype = int(state.range(1));
    char pattern[] = "/tmp/quillon-rate-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    fs::create_directory(dir / "share");
    std::ofstream(dir / "smb.conf") << "[QuillonFiles]\n  path = " << (dir / "share").string() << "\n";

    // Each run numbers its frames from 1 again, as a fresh program would.
    CQuillonFile::ResetAdmission();
    MonotonicTickSource ticks;
    RecorderEngine engine(ticks);
    engine.SetShareConfig((dir / "smb.conf").string());
    if (!StartSimulatedCamera(engine, fps)) {
        state.SkipWithError("no simulated camera");
        return;
    }
    const double actualFps = engine.Camera().Framerate;
    engine.App().Filetype = filetype;
    engine.App().FramesBefore = 15;
    engine.App().FramesAfter = 10;
    engine.App().BufferLenght = 250;
    Gaps gaps;
    for (auto _ : state) {
        RaceStateMachine& race = engine.Race();
        race.OnReady();
        race.OnStart();
        Spin(1500);
        race.OnArrival(std::to_string(race.CurrentRaceTime()));
        Spin(1000);
        race.OnEndArrival(std::to_string(race.CurrentRaceTime()));
        Spin(1000);
        race.OnIdle();
        for (const auto& entry : fs::directory_iterator(dir / "share")) gaps = CountGaps(entry.path(), actualFps);
    }
    state.counters["fps"] = actualFps;
    state.counters["frames"] = double(gaps.frames);
    state.counters["missing"] = double(gaps.missing);
    state.counters["dropped_before_pipeline"] = double(engine.DroppedFrames());
    state.counters["lost_in_ring"] = double(engine.Saving().LostFrames());
    engine.Shutdown(false, {});
    if (!getenv("QUILLON_KEEP")) fs::remove_all(dir);
}

// Arguments: frames per second, file type (1 VLV, 2 AVI, 3 WMV).
BENCHMARK(BM_ArrivalRecordingAtRate)
    ->Args({200, 1})->Args({500, 1})
    ->Args({200, 2})->Args({500, 2})
    ->Args({100, 3})->Args({200, 3})
    ->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
