// The preview's work on the user-interface thread for one frame: size and busy checks, the
// image scaled for the screen, brightness and contrast, automatic brightness. The display is
// left out (it only marks the preview for repainting). A memcpy of the raw frame runs beside it
// as the reference.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
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
    RawLayout Layout(uint32_t) const override { return RawLayout::kBayerRggb; }
};

struct NoDisplay : FrameOutput {
    void ShowFrame(const uint8_t*, uint32_t, uint32_t) override {}
};

void BM_OnFrameReady(benchmark::State& state) {
    const auto width = uint32_t(state.range(0));
    const auto height = uint32_t(state.range(1));
    const bool adjusted = state.range(2) != 0;
    const auto previewScale = uint32_t(state.range(3));
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
    std::atomic<uint32_t> adjustment{0};
    FramePipeline pipeline(stores, camera, converter, output, adjustment);
    pipeline.SetAutoBrightness(adjusted);
    pipeline.SetPreviewScale(previewScale);
    std::vector<uint8_t> raw(size_t(width) * height);
    std::mt19937 random(1);
    for (uint8_t& b : raw)
        b = uint8_t(random());
    for (auto _ : state) {
        camera.Brightnes = adjusted ? 12 : 0; // keep the automatic correction from drifting
        benchmark::DoNotOptimize(pipeline.OnFrameReady(raw.data(), raw.size()));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MemcpyRawFrame(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0)) * size_t(state.range(1));
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// Arguments: width, height, adjusted (brightness 12, contrast 130, automatic brightness on),
// preview scale (2 puts a full sensor on a 1280 x 1024 screen).
BENCHMARK(BM_OnFrameReady)
    ->Args({800, 400, 0, 1})
    ->Args({800, 400, 1, 1})
    ->Args({2048, 1536, 0, 2})
    ->Args({2048, 1536, 1, 2})
    ->Args({2048, 1536, 1, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyRawFrame)->Args({800, 400})->Args({2048, 1536})->Unit(benchmark::kMicrosecond);

} // namespace
