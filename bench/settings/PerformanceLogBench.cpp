// The frame handler at 800 x 400 without a performance log, with the log as the recorder keeps
// it (open for the run, buffered), and with a log that opens, appends and closes its file for
// every frame. The line alone is measured too.
#include <atomic>
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "camera/BayerConversion.h"
#include "core/FramePipeline.h"
#include "settings/PerformanceLog.h"

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
};

enum LogMode { kNoLog = 0, kBufferedLog = 1, kOpenClosePerFrame = 2 };

// A folder of its own for the benchmark's files, removed at the end.
struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        char pattern[] = "/tmp/quillon-bench-log-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
};

// The line written the way a log that keeps no file open has to: open, append, close.
void AppendOpeningTheFile(const std::string& path, PerformanceLog::Stamps s) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto ms = [&](int from, int to) {
        return int(duration_cast<milliseconds>(s[to] - s[from]).count());
    };
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr)
        return;
    std::fprintf(file, "%d\t%d\t%d\t%d\t%d\t%d\t%d\r\n", ms(0, 13), ms(1, 2), ms(3, 4), ms(5, 6),
                 ms(7, 8), ms(9, 10), ms(11, 12));
    std::fclose(file);
}

void BM_FrameHandlerWithLog(benchmark::State& state) {
    const auto mode = LogMode(state.range(0));
    FrameStores stores;
    if (!stores.Allocate()) {
        state.SkipWithError("no memory");
        return;
    }
    CameraSettings camera;
    camera.Width = 800;
    camera.Height = 400;
    camera.Reduction = 1;
    camera.Framerate = 25.0f;
    DemosaicConverter converter;
    NoDisplay output;
    std::atomic<uint32_t> adjustment{0};
    FramePipeline pipeline(stores, camera, converter, output, adjustment);
    std::vector<uint8_t> raw(size_t(camera.Width) * camera.Height);
    std::mt19937 random(1);
    for (uint8_t& b : raw)
        b = uint8_t(random());

    ScratchFolder folder;
    AppSettings app;
    app.SavePerformanceLog = mode == kNoLog ? 0 : 1;
    PerformanceLog log;
    log.Create(app, camera, folder.path);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pipeline.OnFrameReady(raw.data(), raw.size()));
        if (mode == kBufferedLog)
            log.Append(pipeline.Stamps());
        if (mode == kOpenClosePerFrame)
            AppendOpeningTheFile(log.Path(), pipeline.Stamps());
    }
    state.SetItemsProcessed(state.iterations());
}

// Argument: 0 no log, 1 the recorder's buffered log, 2 open, append and close per frame.
BENCHMARK(BM_FrameHandlerWithLog)
    ->Arg(kNoLog)
    ->Arg(kBufferedLog)
    ->Arg(kOpenClosePerFrame)
    ->Unit(benchmark::kMicrosecond);

void BM_LogLine(benchmark::State& state) {
    const bool openClose = state.range(0) != 0;
    ScratchFolder folder;
    AppSettings app;
    app.SavePerformanceLog = 1;
    CameraSettings camera;
    PerformanceLog log;
    log.Create(app, camera, folder.path);
    std::array<PerformanceLog::Clock::time_point, PerformanceLog::kStampCount> stamps{};
    for (auto& s : stamps)
        s = PerformanceLog::Clock::now();
    for (auto _ : state) {
        if (openClose) {
            AppendOpeningTheFile(log.Path(), stamps);
        } else {
            log.Append(stamps);
        }
    }
}

// Argument: 0 the recorder's buffered log, 1 open, append and close per line.
BENCHMARK(BM_LogLine)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);

} // namespace
