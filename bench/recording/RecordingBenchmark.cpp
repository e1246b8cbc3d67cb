// Recording throughput, side by side in one run:
//  - AVI writing against plain sequential write() of the same frames, one write() per frame,
//    both into a fresh file of about 96 MB each iteration (created, written, closed, removed);
//  - Windows Media encoding in frames per second, through the recorder as the save path calls it.
// Files go to $QUILLON_BENCH_DIR, else /tmp.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "recording/QuillonFile.h"

namespace {

using quillon::CQuillonFile;

constexpr size_t kBytesPerFile = 96 * 1000 * 1000; // stays clear of the kernel's writeback
constexpr uint32_t kSceneFrames = 8;

std::string BenchPath(const char* name) {
    const char* dir = std::getenv("QUILLON_BENCH_DIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/quillon-bench-" +
           std::to_string(getpid()) + "-" + name;
}

// A finish-line-like scene: a smooth background with lane lines and a few bars that move from
// frame to frame, plus a little sensor noise. Top-down BGR.
std::vector<std::vector<uint8_t>> MakeScene(uint32_t width, uint32_t height) {
    std::vector<std::vector<uint8_t>> frames(kSceneFrames);
    uint32_t noise = 12345;
    for (uint32_t f = 0; f < kSceneFrames; ++f) {
        std::vector<uint8_t>& frame = frames[f];
        frame.resize(size_t(width) * height * 3);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                uint8_t* p = &frame[(size_t(y) * width + x) * 3];
                const bool lane = y % (height / 8) < 3;
                const bool runner = (x + f * 9) % (width / 5) < width / 40 && y > height / 4;
                noise = noise * 1103515245 + 12345;
                const int grain = int((noise >> 16) & 7) - 3;
                const int base = lane ? 230 : runner ? 40 : 90 + int(x * 60 / width);
                p[0] = uint8_t(std::clamp(base + grain + (runner ? 80 : 0), 0, 255));
                p[1] = uint8_t(std::clamp(base + grain, 0, 255));
                p[2] = uint8_t(std::clamp(base + grain + int(y * 40 / height), 0, 255));
            }
    }
    return frames;
}

uint32_t FramesPerFile(const std::vector<uint8_t>& frame) {
    return uint32_t(std::max<size_t>(1, kBytesPerFile / frame.size()));
}

void BM_AviWrite(benchmark::State& state) {
    const auto width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
    const std::vector<uint8_t> frame = MakeScene(width, height)[0];
    const uint32_t kFramesPerFile = FramesPerFile(frame);
    const std::string path = BenchPath("write.avi");
    uint32_t sequence = 0;
    for (auto _ : state) {
        {
            CQuillonFile recording(path, 25, width, height);
            for (uint32_t i = 0; i < kFramesPerFile; ++i)
                recording.WriteFrame(width, height, frame.data(), 24, 40 * i, ++sequence);
            if (recording.GetFramesWritten() != kFramesPerFile)
                state.SkipWithError("frames were not written");
        }
        unlink(path.c_str());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFramesPerFile * int64_t(frame.size()));
}

void BM_PlainWrite(benchmark::State& state) {
    const auto width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
    const std::vector<uint8_t> frame = MakeScene(width, height)[0];
    const uint32_t kFramesPerFile = FramesPerFile(frame);
    const std::string path = BenchPath("write.raw");
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        for (uint32_t i = 0; i < kFramesPerFile; ++i)
            if (write(fd, frame.data(), frame.size()) != ssize_t(frame.size()))
                state.SkipWithError("write failed");
        close(fd);
        unlink(path.c_str());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFramesPerFile * int64_t(frame.size()));
}

void BM_WindowsMediaEncode(benchmark::State& state) {
    const auto width = uint32_t(state.range(0)), height = uint32_t(state.range(1));
    const std::vector<std::vector<uint8_t>> scene = MakeScene(width, height);
    const std::string path = BenchPath("encode.wmv");
    {
        CQuillonFile recording(path, 25, width, height);
        recording.SetEveryFrame();
        uint32_t n = 0;
        for (auto _ : state) {
            const std::vector<uint8_t>& frame = scene[n % kSceneFrames];
            recording.WriteFrame(width, height, frame.data(), 24, 0, ++n);
        }
        if (recording.HasFailed())
            state.SkipWithError(recording.GetLastError().c_str());
    }
    unlink(path.c_str());
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// Rates by the wall clock: writing is about the file, not only the processor.
BENCHMARK(BM_PlainWrite)
    ->Args({800, 400})
    ->Args({2048, 1536})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_AviWrite)
    ->Args({800, 400})
    ->Args({2048, 1536})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WindowsMediaEncode)
    ->Args({800, 400})
    ->Args({2048, 1536})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
