// The host's share, measured on a private smbd on 127.0.0.1:
// - write throughput of a recording's bytes through SmbFileOutput against `smbclient -c put` of
//   the same bytes to the same server, in the same run (counter "ratio" = ours / smbclient);
// - arrival recordings (VLV and AVI, 800 x 400) at rising camera rates into the host's share and,
//   beside them, into a local share: the highest rate with "missing" 0 is the one kept up with.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "RecorderEngine.h"
#include "RecordingGaps.h"
#include "SimulatedCamera.h"
#include "common/Network.h"
#include "common/PrivateSmbServer.h"
#include "recording/QuillonFile.h"
#include "recording/SmbClient.h"
#include "recording/SmbFileOutput.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;

// One private server for the whole program, its share in a temporary folder.
struct BenchServer {
    fs::path dir;
    fs::path share;
    PrivateSmbServer server;
    bool ok = false;

    BenchServer() {
        char pattern[] = "/tmp/quillon-smbbench-XXXXXX";
        dir = mkdtemp(pattern);
        share = dir / "share";
        // libsmbclient reads $HOME/.smb/smb.conf first: nothing of this machine's.
        fs::create_directories(dir / "home" / ".smb");
        std::ofstream(dir / "home" / ".smb" / "smb.conf") << "[global]\n";
        setenv("HOME", (dir / "home").c_str(), 1);
        const int port = FreePort();
        ok = server.Configure(dir / "smbd", share, port) && server.Start();
        SmbClientSettings settings;
        settings.port = uint16_t(port);
        ConfigureSmbClient(settings);
    }
    ~BenchServer() {
        server.Stop();
        if (!getenv("QUILLON_KEEP"))
            fs::remove_all(dir);
    }
    std::string Url(const std::string& name) const {
        return "smb://127.0.0.1/QuillonFiles/" + name;
    }
};

BenchServer& Server() {
    static BenchServer server;
    return server;
}

constexpr size_t kFrameBytes = 800 * 400 * 3; // one AVI frame at 800 x 400
constexpr size_t kFrames = 256;               // about 234 MiB per run

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_ShareThroughputAgainstSmbclient(benchmark::State& state) {
    BenchServer& s = Server();
    if (!s.ok) {
        state.SkipWithError("no private smbd");
        return;
    }
    std::vector<uint8_t> frame(kFrameBytes);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 31 + 7);
    const fs::path local = s.dir / "frames.bin";
    {
        std::ofstream out(local, std::ios::binary);
        for (size_t i = 0; i < kFrames; ++i)
            out.write(reinterpret_cast<const char*>(frame.data()), long(frame.size()));
    }
    const double bytes = double(kFrameBytes) * kFrames;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        {
            SmbFileOutput output(s.Url("ours.bin"));
            bool ok = output.IsOpen();
            for (size_t i = 0; ok && i < kFrames; ++i)
                ok = output.Write(frame.data(), frame.size()) && output.EndRecord();
            if (!output.Close() || !ok)
                state.SkipWithError(output.LastError().c_str());
        }
        ours += Seconds(start);
        start = std::chrono::steady_clock::now();
        QProcess put;
        put.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        put.start("smbclient",
                  {"//127.0.0.1/QuillonFiles", "-p", QString::number(s.server.Port()), "-N", "-c",
                   QString::fromStdString("put " + local.string() + " theirs.bin")});
        if (!put.waitForFinished(120000) || put.exitCode() != 0)
            state.SkipWithError("smbclient put failed");
        theirs += Seconds(start);
        if (fs::file_size(s.share / "ours.bin") != bytes ||
            fs::file_size(s.share / "theirs.bin") != bytes)
            state.SkipWithError("a copy is incomplete");
    }
    const double runs = double(state.iterations());
    state.counters["ours_MBps"] = bytes * runs / ours / 1e6;
    state.counters["smbclient_MBps"] = bytes * runs / theirs / 1e6;
    state.counters["ratio"] = theirs / ours;
    fs::remove(local);
}

// Connects a host to the engine, so that READY with Directory=1 goes to the host's share.
bool ConnectHost(RecorderEngine& engine, QTcpSocket& host) {
    if (!engine.StartListening())
        return false;
    host.connectToHost("127.0.0.1", quint16(engine.App().Port));
    QElapsedTimer timer;
    timer.start();
    while (!engine.IsHostConnected() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return engine.IsHostConnected();
}

void BM_ArrivalRecordingAtRate(benchmark::State& state) {
    BenchServer& s = Server();
    const auto fps = float(state.range(0));
    const int filetype = int(state.range(1));
    const bool remote = state.range(2) != 0;
    if (!s.ok) {
        state.SkipWithError("no private smbd");
        return;
    }
    // The same race into a local share, for comparison on the same machine in the same run.
    const fs::path folder = remote ? s.share : s.dir / "local";
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(folder))
        fs::remove(entry.path());
    std::ofstream(s.dir / "local.conf") << "[QuillonFiles]\n  path = " << folder.string() << "\n";
    MonotonicTickSource ticks;
    RecorderEngine engine(ticks);
    engine.SetShareConfig((s.dir / "local.conf").string());
    if (!StartSimulatedCamera(engine, fps)) {
        state.SkipWithError("no simulated camera");
        return;
    }
    QTcpSocket host;
    if (!ConnectHost(engine, host)) {
        state.SkipWithError("no host connection");
        return;
    }
    const double actualFps = engine.Camera().Framerate;
    engine.App().Directory = remote ? 1 : 0;
    Gaps gaps;
    for (auto _ : state)
        gaps = RecordOneArrival(engine, folder, filetype);
    state.counters["fps"] = actualFps;
    state.counters["frames"] = double(gaps.frames);
    state.counters["missing"] = double(gaps.missing);
    state.counters["dropped_before_pipeline"] = double(engine.DroppedFrames());
    state.counters["lost_in_ring"] = double(engine.Saving().LostFrames());
    engine.Shutdown(false, {});
}

BENCHMARK(BM_ShareThroughputAgainstSmbclient)->Iterations(3)->Unit(benchmark::kMillisecond);
// Arguments: frames per second, file type (1 VLV, 2 AVI), 1 the host's share or 0 a local one.
BENCHMARK(BM_ArrivalRecordingAtRate)
    ->ArgsProduct({{25, 50, 100, 200}, {1, 2}, {1, 0}})
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
