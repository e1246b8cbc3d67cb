// How fast a camera may run before an arrival recording loses frames: the simulated camera
// streams into the real engine; an arrival is opened and closed by the race buttons'
// operations; the recording is read back with quillon-inspect and its gaps counted. The
// preview runs beside it as in the program (scaled to fit a 1280 x 1024 screen), and the
// process's peak resident memory is reported (run one case per process to read it per case).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "RecorderEngine.h"
#include "RecordingGaps.h"
#include "SimulatedCamera.h"
#include "recording/QuillonFile.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;

long PeakResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6)) / 1024;
    }
    return -1;
}

void BM_ArrivalRecordingAtRate(benchmark::State& state) {
    const auto fps = float(state.range(0));
    const int filetype = int(state.range(1));
    const auto width = uint32_t(state.range(2));
    const auto height = uint32_t(state.range(3));
    const bool adjusted = state.range(4) != 0;
    char pattern[] = "/tmp/quillon-rate-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    fs::create_directory(dir / "share");
    std::ofstream(dir / "smb.conf")
        << "[QuillonFiles]\n  path = " << (dir / "share").string() << "\n";

    MonotonicTickSource ticks;
    RecorderEngine engine(ticks);
    engine.SetShareConfig((dir / "smb.conf").string());
    if (!StartSimulatedCamera(engine, fps, width, height)) {
        state.SkipWithError("no simulated camera");
        return;
    }
    engine.Pipeline()->SetPreviewScale(
        PreviewScaleToFit(ReducedGeometry(engine.Camera()), 1200, 900));
    if (adjusted) {
        engine.Camera().Brightnes = 12;
        engine.Camera().Contrast = 130;
        engine.Camera().MeanValue = -1;
        engine.Pipeline()->SetAutoBrightness(true);
    }
    const double actualFps = engine.Camera().Framerate;
    Gaps gaps;
    for (auto _ : state)
        gaps = RecordOneArrival(engine, dir / "share", filetype);
    state.counters["fps"] = actualFps;
    state.counters["frames"] = double(gaps.frames);
    state.counters["missing"] = double(gaps.missing);
    state.counters["lost_for_recording"] = double(engine.DroppedFrames());
    state.counters["preview_skips"] = double(engine.PreviewSkips());
    state.counters["peak_rss_mb"] = double(PeakResidentMegabytes());
    engine.Shutdown(false, {});
    if (!getenv("QUILLON_KEEP"))
        fs::remove_all(dir);
}

// Arguments: frames per second, file type (1 VLV, 2 AVI, 3 WMV), width, height, adjusted
// (brightness 12, contrast 130, automatic correction on).
BENCHMARK(BM_ArrivalRecordingAtRate)
    ->Args({500, 1, 800, 400, 0})
    ->Args({500, 2, 800, 400, 1})
    ->Args({200, 3, 800, 400, 0})
    ->Args({100, 1, 2048, 1536, 1})
    ->Args({100, 2, 2048, 1536, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
