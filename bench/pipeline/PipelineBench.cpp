// The frame handler's work on the user-interface thread for one frame: size and busy checks,
// demosaic, reduction, brightness and contrast, automatic brightness, intake. The display is
// left out (it only marks the preview for repainting).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "camera/BayerConversion.h"
#include "core/FramePipeline.h"
#include "settings/CameraSettings.h"

namespace {

using namespace quillon;

struct DemosaicConverter : FrameConverter {
    bool IsBusy() const override { return false; }
    bool ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t w, uint32_t h,
                        uint32_t) override {
        return DemosaicRggbToBgr24(raw, w, h, bgr);
    }
};

struct NoDisplay : FrameOutput {
    void ShowFrame(const uint8_t*, uint32_t, uint32_t) override {}
    void TakeFrame(const uint8_t*, size_t, const uint8_t*, uint32_t, uint32_t) override {}
};

void BM_OnFrameReady(benchmark::State& state) {
    const auto width = uint32_t(state.range(0));
    const auto height = uint32_t(state.range(1));
    const bool adjusted = state.range(2) != 0;
    FrameStores stores;
    if (!stores.Allocate()) {
        state.SkipWithError("no memory");
        return;
    }
    CameraSettings camera;
    camera.Width = width;
    camera.Height = height;
    camera.Reduction = 1;
    camera.Brightnes = adjusted ? 12 : 0;
    camera.Contrast = adjusted ? 130 : 100;
    camera.MeanValue = 100;
    DemosaicConverter converter;
    NoDisplay output;
    FramePipeline pipeline(stores, camera, converter, output);
    pipeline.SetAutoBrightness(adjusted);
    std::vector<uint8_t> raw(size_t(width) * height);
    std::mt19937 random(1);
    for (uint8_t& b : raw) b = uint8_t(random());
    for (auto _ : state) {
        camera.Brightnes = adjusted ? 12 : 0;  // keep the automatic correction from drifting
        benchmark::DoNotOptimize(pipeline.OnFrameReady(raw.data(), raw.size()));
    }
    state.SetItemsProcessed(state.iterations());
}

// Arguments: width, height, adjusted (brightness 12, contrast 130, automatic brightness on).
BENCHMARK(BM_OnFrameReady)
    ->Args({800, 400, 0})
    ->Args({800, 400, 1})
    ->Args({2048, 1536, 0})
    ->Args({2048, 1536, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
