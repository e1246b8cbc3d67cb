// Whole races steered through shared memory: the real program with the simulated camera,
// offscreen, and a host built on Qt's QSharedMemory with key "VL_QUILLONID"; the recording is
// read back with the inspect tool. Each test has its own $TMPDIR, so its System V keys are its
// own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "QtHost.h"
#include "common/Network.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kReady = 0x0400, kRunning = 0x0800, kArrival = 0x1000;
// The host's clock: 100 us counts, started just below 2^32 so that it wraps during the race.
constexpr double kScale = 100.0;
constexpr uint32_t kStartCount = 0xFFFFFFFFu - 15000u;

std::string SegmentKeyFile(const fs::path& tmp) {
    return (tmp / "qipc_sharedmemory_VLQUILLONID79c66930557f8c480086014a5996e7023bff6835").string();
}

// Processes attached to the segment of the key, -1 while there is none.
int Attachments(const fs::path& tmp) {
    const key_t key = ftok(SegmentKeyFile(tmp).c_str(), 'Q');
    const int id = key == -1 ? -1 : shmget(key, 0, 0600);
    shmid_ds status{};
    if (id == -1 || shmctl(id, IPC_STAT, &status) != 0)
        return -1;
    return int(status.shm_nattch);
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class SharedMemoryRaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestCoreApplication();
        dir = tmp.path / "run";
        fs::create_directories(dir / "share");
        std::ofstream(dir / "smb.conf")
            << "[global]\n  workgroup = TEST\n[QuillonFiles]\n  path = " << (dir / "share").string()
            << "\n  read only = no\n";
        port = FreePort();
        std::ofstream(dir / "settings.ini")
            << "[Quillon]\nPort=" << port << "\nFiletype=VLV\n[QuillonID_Camera]\nWidth=800\n"
            << "Height=400\nXOffset=624\nYOffset=568\nFramerate=24\nExposure=10\nReduction=1\n";
        fs::copy_file(fs::path(QUILLON_BUILD_DIR) / "quillon-id", dir / "quillon-id");
    }
    void TearDown() override {
        for (QProcess* p : {&recorder, &second}) {
            if (p->state() != QProcess::NotRunning)
                p->kill();
            p->waitForFinished(5000);
        }
    }

    void Start(QProcess& process, QStringList args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", QString::fromStdString(tmp.path.string()));
        process.setProcessEnvironment(env);
        args << "--camera"
             << "sim"
             << "--smb-conf" << QString::fromStdString((dir / "smb.conf").string());
        process.start(QString::fromStdString((dir / "quillon-id").string()), args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    // The host's race time now, in ms, as the recorder computes it from the block.
    uint32_t HostTime() const {
        if (!running)
            return 0;
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - raceStart);
        return uint32_t(uint32_t(us.count() / 100) * kScale / 1000.0);
    }
    // Writes the block every 2 ms for `seconds` with the clock running on; returns the race time
    // of the first write.
    uint32_t Drive(uint16_t flags, double seconds) {
        if ((flags & kRunning) && !running) {
            running = true;
            raceStart = Clock::now();
        }
        const uint32_t first = HostTime();
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < until) {
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - raceStart);
            const uint32_t t1 = kStartCount + (running ? uint32_t(us.count() / 100) : 0u);
            host.WriteBlock(flags, counter, t1, kStartCount, kScale);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return first;
    }

    // Ready, running, an arrival held open by the arrival bit, one opened by a counter step,
    // idle. Returns the recording's frame times; `paths` gets the path read back after each
    // arrival.
    std::vector<long long> RunRace(long long arrival[2], long long& end, std::string paths[2]) {
        Drive(kReady, 1.0);
        Drive(kRunning, 2.5);
        arrival[0] = Drive(kRunning | kArrival, 0.6);
        paths[0] = host.Path();
        end = Drive(kRunning, 2.5);
        ++counter;
        arrival[1] = Drive(kRunning, 1.0);
        paths[1] = host.Path();
        Drive(0, 1.0);
        ::kill(pid_t(recorder.processId()), SIGTERM);
        EXPECT_TRUE(recorder.waitForFinished(10000));
        std::vector<long long> times;
        QProcess inspect;
        inspect.start(
            QString::fromStdString((fs::path(QUILLON_BUILD_DIR) / "quillon-inspect").string()),
            {QString::fromStdString(paths[1])});
        inspect.waitForFinished(60000);
        std::istringstream lines(inspect.readAllStandardOutput().toStdString());
        const std::regex frame(R"(^frame \d+: time (\d+) ms, sequence \d+$)");
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (std::regex_match(line, m, frame))
                times.push_back(std::stoll(m[1]));
        }
        return times;
    }

    void ExpectRaceRecorded() {
        long long arrival[2] = {0, 0};
        long long end = 0;
        std::string paths[2];
        const std::vector<long long> times = RunRace(arrival, end, paths);
        // The path read back names the recording in the share, the same for both arrivals.
        EXPECT_EQ(fs::path(paths[0]).parent_path(), dir / "share");
        EXPECT_EQ(paths[0], paths[1]);
        EXPECT_EQ(fs::path(paths[0]).extension(), ".vlv");
        // Two runs of frames, each from 600 ms before its arrival to 400 ms after its end, in the
        // host's times.
        ASSERT_FALSE(times.empty()) << paths[0];
        std::vector<std::pair<long long, long long>> runs{{times[0], times[0]}};
        for (size_t i = 1; i < times.size(); ++i) {
            ASSERT_GT(times[i], times[i - 1]) << "frame " << i;
            if (times[i] - times[i - 1] > 200) {
                runs.push_back({times[i], times[i]});
            } else {
                EXPECT_LE(times[i] - times[i - 1], 60) << "a frame is missing before frame " << i;
                runs.back().second = times[i];
            }
        }
        ASSERT_EQ(runs.size(), 2u);
        const long long ends[2] = {end, arrival[1]};
        for (int k = 0; k < 2; ++k) {
            EXPECT_LE(std::llabs(runs[k].first - (arrival[k] - 600)), 25) << "arrival " << k;
            EXPECT_LE(runs[k].second, ends[k] + 400 + 10) << "arrival " << k;
            EXPECT_GT(runs[k].second, ends[k] + 400 - 45) << "arrival " << k;
        }
    }

    PrivateTempDir tmp; // first in, last out: $TMPDIR of the host and the recorders
    fs::path dir;
    int32_t port = 0;
    QtHost host;
    QProcess recorder;
    QProcess second;
    uint32_t counter = 0;
    bool running = false;
    Clock::time_point raceStart;
};

TEST_F(SharedMemoryRaceTest, HostFirstRecorderAttachesAndRecordsTheRace) {
    ASSERT_TRUE(host.Create(165));
    Start(recorder, {"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return Attachments(tmp.path) == 2; }));
    ExpectRaceRecorded();
}

TEST_F(SharedMemoryRaceTest, RecorderFirstHostAttachesAndRecordsTheRace) {
    Start(recorder, {"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return host.Attach(); }));
    ExpectRaceRecorded();
}

TEST_F(SharedMemoryRaceTest, ARecorderKilledLeavesNothingThatBlocksTheNext) {
    Start(recorder, {"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return Attachments(tmp.path) == 1; }));
    QThread::msleep(300); // polling
    ::kill(pid_t(recorder.processId()), SIGKILL);
    ASSERT_TRUE(recorder.waitForFinished(5000));
    EXPECT_EQ(Attachments(tmp.path), 0); // left behind, with its key files and semaphore
    Start(second, {"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return host.Attach(); }));
    Drive(kRunning, 1.0);
    ++counter;
    Drive(kRunning, 0.5);
    EXPECT_EQ(fs::path(host.Path()).parent_path(), dir / "share");
}

TEST_F(SharedMemoryRaceTest, Sigusr1SwitchesTheModeAndTcpIsIgnoredWhileOn) {
    Start(recorder, {});
    QTcpSocket tcp;
    ASSERT_TRUE(WaitFor([&] {
        tcp.connectToHost("127.0.0.1", quint16(port));
        return tcp.waitForConnected(200);
    }));
    const auto reply = [&tcp](const char* command) {
        tcp.readAll();
        tcp.write(command);
        tcp.waitForBytesWritten(1000);
        std::string got;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 800 && got.find('~') == std::string::npos) {
            if (tcp.waitForReadyRead(100))
                got += tcp.readAll().toStdString();
        }
        return got;
    };
    EXPECT_NE(reply("CMD~IDLE").find("RE~IDLE"), std::string::npos);
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    ASSERT_TRUE(WaitFor([&] { return host.Attach(); }));
    EXPECT_EQ(reply("CMD~IDLE").find("RE~"), std::string::npos);
    host.memory.detach();
    ASSERT_EQ(Attachments(tmp.path), 1);
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    // Switched off, the recorder, the last to use it, removed the segment and its key file.
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(SegmentKeyFile(tmp.path)); }));
    EXPECT_EQ(Attachments(tmp.path), -1);
    EXPECT_NE(reply("CMD~IDLE").find("RE~IDLE"), std::string::npos);
}

} // namespace
} // namespace quillon
