// The frame conversion against OpenCV's bilinear Bayer conversion, single-threaded, on the same
// frames in the same run. BM_DemosaicVsOpenCV alternates the two on every iteration and reports
// the ratio of their medians (ours / OpenCV's; below 1 means ours is faster).
#include "camera/BayerConversion.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#ifdef QUILLON_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using quillon::DemosaicKernel;
using quillon::DemosaicRggbToBgr24;

struct Frames {
    Frames(int width, int height) : raw(size_t(width) * height), bgr(raw.size() * 3) {
        std::mt19937 rng(42);
        for (uint8_t& v : raw) {
            v = uint8_t(rng());
        }
    }
    std::vector<uint8_t> raw;
    std::vector<uint8_t> bgr;
};

void SetSizeLabel(benchmark::State& state, int width, int height) {
    state.SetBytesProcessed(int64_t(state.iterations()) * width * height * 3);
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}

void BM_Demosaic(benchmark::State& state, DemosaicKernel kernel) {
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    if (!quillon::DemosaicKernelSupported(kernel)) {
        state.SkipWithError("kernel not supported on this processor");
        return;
    }
    Frames frames(width, height);
    for (auto _ : state) {
        DemosaicRggbToBgr24(frames.raw.data(), width, height, frames.bgr.data(), kernel);
        benchmark::DoNotOptimize(frames.bgr.data());
        benchmark::ClobberMemory();
    }
    SetSizeLabel(state, width, height);
}
BENCHMARK_CAPTURE(BM_Demosaic, Auto, DemosaicKernel::kAuto)
    ->Args({2048, 1536})
    ->Args({800, 400})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Demosaic, Scalar, DemosaicKernel::kScalar)
    ->Args({2048, 1536})
    ->Args({800, 400})
    ->Unit(benchmark::kMicrosecond);

#ifdef QUILLON_BENCH_OPENCV

void BM_OpenCV(benchmark::State& state) {
    cv::setNumThreads(1);
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    Frames frames(width, height);
    const cv::Mat raw(height, width, CV_8UC1, frames.raw.data());
    cv::Mat bgr(height, width, CV_8UC3, frames.bgr.data());
    for (auto _ : state) {
        cv::cvtColor(raw, bgr, cv::COLOR_BayerBG2BGR); // red at (0, 0): the RGGB conversion
        benchmark::DoNotOptimize(bgr.data);
        benchmark::ClobberMemory();
    }
    SetSizeLabel(state, width, height);
}
BENCHMARK(BM_OpenCV)->Args({2048, 1536})->Args({800, 400})->Unit(benchmark::kMicrosecond);

double Median(std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void BM_DemosaicVsOpenCV(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    cv::setNumThreads(1);
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    Frames ours(width, height);
    std::vector<uint8_t> theirs(ours.bgr.size());
    const cv::Mat raw(height, width, CV_8UC1, ours.raw.data());
    cv::Mat bgr(height, width, CV_8UC3, theirs.data());

    // Both must give the same picture, borders included, or the comparison means nothing.
    DemosaicRggbToBgr24(ours.raw.data(), width, height, ours.bgr.data());
    cv::cvtColor(raw, bgr, cv::COLOR_BayerBG2BGR);
    if (std::memcmp(ours.bgr.data(), theirs.data(), theirs.size()) != 0) {
        state.SkipWithError("output differs from OpenCV's");
        return;
    }

    std::vector<double> oursUs, theirsUs;
    oursUs.reserve(1 << 16);
    theirsUs.reserve(1 << 16);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        DemosaicRggbToBgr24(ours.raw.data(), width, height, ours.bgr.data());
        benchmark::ClobberMemory();
        const auto t1 = Clock::now();
        cv::cvtColor(raw, bgr, cv::COLOR_BayerBG2BGR);
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        oursUs.push_back(us);
        theirsUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        state.SetIterationTime(us * 1e-6);
    }
    const double oursMedian = Median(oursUs);
    const double theirsMedian = Median(theirsUs);
    state.counters["quillon_us"] = oursMedian;
    state.counters["opencv_us"] = theirsMedian;
    state.counters["ratio"] = oursMedian / theirsMedian;
    SetSizeLabel(state, width, height);
}
BENCHMARK(BM_DemosaicVsOpenCV)
    ->Args({2048, 1536})
    ->Args({800, 400})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

#endif // QUILLON_BENCH_OPENCV

} // namespace
