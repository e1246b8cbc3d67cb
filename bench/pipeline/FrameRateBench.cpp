// The whole program's frame path at a high frame rate: the simulated camera streams 800 x 400
// at 200 frames per second into the recorder engine, whose frames go to a real preview widget
// (offscreen). Counts, over five seconds, the frames the camera delivered, the frames handed
// over and processed, and the ones dropped on the way.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include "PreviewWidget.h"
#include "RecorderEngine.h"
#include "SimulatedCamera.h"

namespace {

using namespace quillon;

struct PreviewView : EngineView {
    PreviewWidget preview;
    void ShowFrame(const uint8_t* bgr, uint32_t w, uint32_t h) override {
        preview.ShowFrame(bgr, w, h);
    }
};

void BM_SimulatedCameraIntoPipeline(benchmark::State& state) {
    const auto fps = float(state.range(0));
    MonotonicTickSource ticks;
    RecorderEngine engine(ticks);
    PreviewView view;
    engine.SetView(&view);
    if (!StartSimulatedCamera(engine, fps)) {
        state.SkipWithError("no simulated camera");
        return;
    }
    view.preview.SetImageSize(800, 400);
    view.preview.show();
    constexpr int kSeconds = 5;
    for (auto _ : state) {
        QElapsedTimer warmUp;
        warmUp.start();
        while (warmUp.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const uint64_t accepted0 = engine.AcceptedFrames();
        const uint64_t processed0 = engine.ProcessedFrames();
        const uint64_t dropped0 = engine.DroppedFrames();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kSeconds * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const double seconds = double(timer.elapsed()) / 1000.0;
        state.counters["delivered_per_s"] = double(engine.AcceptedFrames() - accepted0) / seconds;
        state.counters["processed_per_s"] = double(engine.ProcessedFrames() - processed0) / seconds;
        state.counters["dropped_per_s"] = double(engine.DroppedFrames() - dropped0) / seconds;
        state.counters["shown"] = double(view.preview.FramesShown());
    }
    engine.Shutdown(false, {});
}

BENCHMARK(BM_SimulatedCameraIntoPipeline)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
