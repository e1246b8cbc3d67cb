// Whole races steered through shared memory: the real program with the simulated camera,
// offscreen, and a host built on Qt's QSharedMemory with key "VL_QUILLONID"; the recording is
// read back with the inspect tool. Each test has its own $TMPDIR, so its System V keys are its
// own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

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
// The host's clock: 100 us counts, started 1.5 s below 2^32 so that it wraps during the race.
constexpr double kScale = 100.0;
constexpr uint32_t kStartCount = 0xFFFFFFFFu - 15000u;

// Polls without running the event loop, so that the test leaves the machine to the recorder.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i, QThread::msleep(20)) {
        if (done())
            return true;
    }
    return false;
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
        recorder.kill();
        recorder.waitForFinished(5000);
    }

    void Start(QStringList args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", QString::fromStdString(tmp.path.string()));
        recorder.setProcessEnvironment(env);
        recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        args +=
            {"--camera", "sim", "--smb-conf", QString::fromStdString((dir / "smb.conf").string())};
        recorder.start(QString::fromStdString((dir / "quillon-id").string()), args);
        ASSERT_TRUE(recorder.waitForStarted(5000));
    }

    // Processes attached to the segment, -1 while there is none.
    int Attachments() const {
        const key_t key = ftok(host.memory.nativeKey().toLocal8Bit().constData(), 'Q');
        shmid_ds status{};
        const int id = key == -1 ? -1 : shmget(key, 0, 0600);
        return id == -1 || shmctl(id, IPC_STAT, &status) != 0 ? -1 : int(status.shm_nattch);
    }

    // Writes the block every 2 ms for `seconds`, the host's clock running from the first
    // running block on; returns the race time in ms of the first write.
    long long Drive(uint16_t flags, double seconds) {
        if ((flags & kRunning) && raceStart == Clock::time_point{})
            raceStart = Clock::now();
        const auto counts = [this] {
            if (raceStart == Clock::time_point{})
                return 0u;
            return uint32_t((Clock::now() - raceStart) / std::chrono::microseconds(100));
        };
        const long long first = (long long)(counts() * kScale / 1000.0);
        for (const auto until = Clock::now() + std::chrono::duration<double>(seconds);
             Clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
            host.WriteBlock(flags, counter, kStartCount + counts(), kStartCount, kScale);
        }
        return first;
    }

    // Ready, running, an arrival held open by the arrival bit, one opened by a counter step,
    // idle; then the path read back and the recording's frames.
    void ExpectRaceRecorded() {
        Drive(kReady, 1.0);
        Drive(kRunning, 2.5);
        const long long arrival0 = Drive(kRunning | kArrival, 0.6);
        const std::string path = host.Path();
        const long long end0 = Drive(kRunning, 2.5);
        ++counter;
        const long long arrival1 = Drive(kRunning, 1.0);
        EXPECT_EQ(host.Path(), path);
        Drive(0, 1.0);
        ::kill(pid_t(recorder.processId()), SIGTERM);
        EXPECT_TRUE(recorder.waitForFinished(10000));
        EXPECT_EQ(recorder.exitCode(), 0);
        EXPECT_EQ(fs::path(path).parent_path(), dir / "share");
        EXPECT_EQ(fs::path(path).extension(), ".vlv");

        QProcess inspect;
        inspect.start(QUILLON_BUILD_DIR "/quillon-inspect", {QString::fromStdString(path)});
        inspect.waitForFinished(60000);
        std::istringstream lines(inspect.readAllStandardOutput().toStdString());
        const std::regex frame(R"(^frame \d+: time (\d+) ms, sequence (\d+)$)");
        // Runs of camera frames, as (first, last) times: one run per arrival, the two seconds
        // between them a long gap in the camera's numbers. Frames the frame path drops on a
        // busy machine are its own tests' matter, not the link's. The times follow the host's
        // clock, which stalls with the host process on a busy machine, so their spacing is not
        // checked, only that they rise.
        std::vector<std::pair<long long, long long>> runs;
        constexpr long long kArrivalGapFrames = 10;
        long long lastSequence = -kArrivalGapFrames - 1;
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (!std::regex_match(line, m, frame))
                continue;
            const long long time = std::stoll(m[1]), sequence = std::stoll(m[2]);
            if (!runs.empty()) {
                EXPECT_GT(time, runs.back().second) << "sequence " << sequence;
            }
            if (sequence > lastSequence + kArrivalGapFrames)
                runs.push_back({time, time});
            runs.back().second = time;
            lastSequence = sequence;
        }
        // Each arrival from 600 ms before it to 400 ms after its end, in the host's times, give
        // or take a frame or two (40 ms each) and the poll's delay on a loaded machine.
        ASSERT_EQ(runs.size(), 2u) << path;
        const long long arrivals[2] = {arrival0, arrival1}, ends[2] = {end0, arrival1};
        for (int k = 0; k < 2; ++k) {
            EXPECT_LE(std::llabs(runs[k].first - (arrivals[k] - 600)), 50) << "arrival " << k;
            EXPECT_LE(runs[k].second, ends[k] + 400 + 50) << "arrival " << k;
            EXPECT_GT(runs[k].second, ends[k] + 400 - 85) << "arrival " << k;
        }
    }

    PrivateTempDir tmp; // first in, last out: $TMPDIR of the host and the recorders
    fs::path dir;
    int32_t port = 0;
    QtHost host;
    QProcess recorder;
    uint32_t counter = 0;
    Clock::time_point raceStart;
};

TEST_F(SharedMemoryRaceTest, HostFirstRecorderAttachesAndRecordsTheRace) {
    ASSERT_TRUE(host.Create(165));
    Start({"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return Attachments() == 2; }));
    ExpectRaceRecorded();
}

// A recorder killed with SIGKILL leaves its segment, key files and semaphore; the next one
// starts first all the same, and the host attaches to it.
TEST_F(SharedMemoryRaceTest, RecorderFirstAfterAKilledOneHostAttachesAndRecordsTheRace) {
    Start({"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return Attachments() == 1; }));
    QThread::msleep(300); // polling
    ::kill(pid_t(recorder.processId()), SIGKILL);
    ASSERT_TRUE(recorder.waitForFinished(5000));
    EXPECT_EQ(Attachments(), 0);
    Start({"--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return host.Attach(); }));
    ExpectRaceRecorded();
}

TEST_F(SharedMemoryRaceTest, Sigusr1SwitchesTheModeAndTcpIsIgnoredWhileOn) {
    Start({});
    QTcpSocket tcp;
    ASSERT_TRUE(WaitFor([&] {
        tcp.connectToHost("127.0.0.1", quint16(port));
        return tcp.waitForConnected(200);
    }));
    const auto answersIdle = [&tcp] {
        tcp.readAll();
        tcp.write("CMD~IDLE");
        std::string got;
        for (int i = 0; i < 8 && got.find("RE~") == std::string::npos; ++i) {
            if (tcp.waitForReadyRead(100))
                got += tcp.readAll().toStdString();
        }
        return got.find("RE~IDLE") != std::string::npos;
    };
    EXPECT_TRUE(answersIdle());
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    ASSERT_TRUE(WaitFor([&] { return host.Attach(); }));
    EXPECT_FALSE(answersIdle());
    host.memory.detach();
    ASSERT_EQ(Attachments(), 1);
    // Off: the recorder, the last to use the segment, removes it and its key file.
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    EXPECT_TRUE(WaitFor([&] { return Attachments() == -1; }));
    EXPECT_FALSE(fs::exists(host.memory.nativeKey().toStdString()));
    EXPECT_TRUE(answersIdle());
}

} // namespace
} // namespace quillon
