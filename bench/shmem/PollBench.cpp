// The shared memory poll on its 1 ms timer, with the real race operations behind it and a host
// writing into the segment from another thread (as a host process would, through its own
// attachment and the semaphore).
//
// BM_PollCpu: the processor time the process spends while the poll runs and the host block
// stays as it is (idle: flags 0, every poll calls OnIdle; running: every poll sets the clock),
// in percent of one core over two seconds of a blocking event loop.
// BM_ArrivalLatency: from the host's write of a counter step to the moment the arrival opens
// (manual time per iteration; p50/p99/max and the share over 2 ms as counters).
// BM_EmptyTimerCpu: the 1 ms precise timer alone, the floor under BM_PollCpu.
// Every figure depends on how busy the machine is: read them with the load average printed.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "core/RaceStateMachine.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"
#include "shmem/SharedMemoryLink.h"

namespace {

using namespace quillon;
using Clock = std::chrono::steady_clock;

struct Race : ReplySink, RecordingSteps, RaceView {
    Race() : machine(*this, *this, ticks, app, camera) {
        camera.Framerate = 25.0f;
        machine.SetView(this);
    }
    void SendReply(std::string_view) override {}
    bool IsHostConnected() const override { return false; }
    bool IsSharedMemoryMode() const override { return true; }
    bool HasRecorder() const override { return false; }
    bool IsEveryFrame() const override { return false; }
    void StopSaveWorker() override {}
    void DeleteRecorder() override {}
    void PrepareRecording() override {}
    void StartSavePass() override {}
    void EnableRaceButton(RaceButton button, bool enabled) override {
        if (button == RaceButton::Arrival && !enabled)
            arrivalSeen.store(Clock::now());
    }
    MonotonicTickSource ticks;
    AppSettings app;
    CameraSettings camera;
    RaceStateMachine machine;
    std::atomic<Clock::time_point> arrivalSeen{};
};

void WriteBlock(CQSharedMemory& host, uint16_t flags, uint32_t counter) {
    uint8_t block[40] = {};
    block[0] = uint8_t(flags);
    block[1] = uint8_t(flags >> 8);
    // Race time 100 s: an arrival that ends at race time 0 would count as still open.
    const uint32_t t1 = 100000;
    for (int i = 0; i < 4; ++i) {
        block[4 + i] = uint8_t(counter >> (24 - 8 * i));
        block[8 + i] = uint8_t(t1 >> (24 - 8 * i));
    }
    const double scale = 1000.0;
    std::memcpy(block + 32, &scale, 8);
    host.Write(block, sizeof block, 0);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_PollCpu(benchmark::State& state) {
    Race race;
    SharedMemoryLink link(race.machine, {});
    link.SwitchOn();
    CQSharedMemory host(SharedMemoryLink::kKey, SharedMemoryLink::kRequestedBytes);
    WriteBlock(host, uint16_t(state.range(0)), 0);
    RunEventLoop(200);
    for (auto _ : state) {
        const double cpu0 = CpuSeconds();
        const auto wall0 = Clock::now();
        RunEventLoop(2000);
        const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
        state.counters["cpu_percent"] = 100.0 * (CpuSeconds() - cpu0) / wall;
    }
    state.SetLabel(state.range(0) == 0 ? "idle" : "running");
}

// The yardstick: the same 1 ms precise timer with nothing behind it.
void BM_EmptyTimerCpu(benchmark::State& state) {
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(SharedMemoryLink::kPollIntervalMs);
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start();
    for (auto _ : state) {
        const double cpu0 = CpuSeconds();
        const auto wall0 = Clock::now();
        RunEventLoop(2000);
        const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
        state.counters["cpu_percent"] = 100.0 * (CpuSeconds() - cpu0) / wall;
    }
}

void BM_ArrivalLatency(benchmark::State& state) {
    Race race;
    SharedMemoryLink link(race.machine, {});
    link.SwitchOn();
    CQSharedMemory host(SharedMemoryLink::kKey, SharedMemoryLink::kRequestedBytes);
    uint32_t counter = 0;
    WriteBlock(host, HostBlock::kRunning, counter);
    RunEventLoop(100); // started
    std::mt19937 random(7);
    std::uniform_int_distribution<int> phase(0, 3000);
    std::vector<double> latencies;
    QEventLoop loop;
    for (auto _ : state) {
        race.arrivalSeen.store(Clock::time_point{});
        std::atomic<Clock::time_point> written{};
        const int delayUs = phase(random);
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            written.store(Clock::now());
            WriteBlock(host, HostBlock::kRunning, counter + 1);
        });
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (race.arrivalSeen.load() == Clock::time_point{} && Clock::now() < deadline) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        writer.join();
        ++counter;
        const double latency =
            std::chrono::duration<double>(race.arrivalSeen.load() - written.load()).count();
        latencies.push_back(latency);
        state.SetIterationTime(std::max(latency, 0.0));
        // The next poll ends the arrival; the race is then ready for the next step.
        while (race.machine.ArrivalEndTime() == 0)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies[size_t(q * double(latencies.size() - 1))] * 1e3;
    };
    state.counters["p50_ms"] = at(0.5);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.back() * 1e3;
    const auto late = std::count_if(latencies.begin(), latencies.end(),
                                    [](double latency) { return latency > 2e-3; });
    state.counters["over_2ms_percent"] = 100.0 * double(late) / double(latencies.size());
}

BENCHMARK(BM_PollCpu)
    ->Arg(0)
    ->Arg(HostBlock::kRunning)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_EmptyTimerCpu)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);
BENCHMARK(BM_ArrivalLatency)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // A temporary directory of our own: the segment's key is then ours alone, whatever else
    // runs on this computer.
    char pattern[] = "/tmp/quillon-bench-shm-XXXXXX";
    const std::filesystem::path tmp = mkdtemp(pattern);
    setenv("TMPDIR", tmp.c_str(), 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(tmp);
    return 0;
}
