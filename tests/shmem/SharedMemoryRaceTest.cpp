// Whole races steered through shared memory: the real program with the simulated camera,
// offscreen, and a host built on Qt's QSharedMemory with key "VL_QUILLONID"; the recording is
// read back with the inspect tool. Each test has its own $TMPDIR, so its System V keys are its
// own.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <QThread>
#include <chrono>
#include <thread>
#include <utility>

#include "QtHost.h"
#include "common/RecorderProcess.h"

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kReady = 0x0400, kRunning = 0x0800, kArrival = 0x1000;
// The host's clock: 100 us counts, started 1.5 s below 2^32 so that it wraps during the race.
constexpr double kScale = 100.0;
constexpr uint32_t kStartCount = 0xFFFFFFFFu - 15000u;

// Polls without running the event loop, so that the test leaves the machine to the recorder.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i, QThread::msleep(20)) {
        if (done()) // once only: done() may act (an attach)
            return true;
    }
    return false;
}

class SharedMemoryRaceTest : public RecorderProcessTest {
protected:
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
            const auto since =
                raceStart == Clock::time_point{} ? Clock::duration{} : Clock::now() - raceStart;
            return uint32_t(since / std::chrono::microseconds(100));
        };
        const long long first = (long long)(counts() * kScale / 1000.0);
        for (const auto until = Clock::now() + std::chrono::duration<double>(seconds);
             Clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
            host.WriteBlock(flags, counter, kStartCount + counts(), kStartCount, kScale);
        }
        return first;
    }

    // $TMPDIR of the host and the recorders: made before `host`, and before SetUp() takes the
    // recorder's environment.
    PrivateTempDir tmp;
    QtHost host;
    uint32_t counter = 0;
    Clock::time_point raceStart;
};

// SIGUSR1 switches the mode: on, the recorder attaches to the segment the host made first,
// and TCP commands are ignored; off, the recorder (the last to use the segment) removes it and
// its key file. A recorder killed with SIGKILL leaves its segment, key files and semaphore; the
// next one starts first all the same, the host attaches to it, and the race is recorded.
TEST_F(SharedMemoryRaceTest, Sigusr1SwitchesTheModeAndAfterAKilledRecorderTheNextRecordsTheRace) {
    WriteSettings("VLV");
    ASSERT_TRUE(host.memory.create(165));
    Start();
    ASSERT_TRUE(WaitUntilListening(port));
    const auto answersIdle = [this] {
        return Host("IDLE").find("<- RE~IDLE") != std::string::npos;
    };
    EXPECT_TRUE(answersIdle());
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    ASSERT_TRUE(WaitFor([&] { return Attachments() == 2; }));
    EXPECT_FALSE(answersIdle());
    host.memory.detach();
    ASSERT_EQ(Attachments(), 1);
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    EXPECT_TRUE(WaitFor([&] { return Attachments() == -1; }));
    EXPECT_FALSE(fs::exists(host.memory.nativeKey().toStdString()));
    EXPECT_TRUE(answersIdle());
    ::kill(pid_t(recorder.processId()), SIGUSR1);
    ASSERT_TRUE(WaitFor([&] { return Attachments() == 1; }));
    QThread::msleep(300); // polling
    recorder.kill();
    ASSERT_TRUE(recorder.waitForFinished(5000));
    EXPECT_EQ(Attachments(), 0);
    Start({"--camera", "sim", "--shared-memory"});
    ASSERT_TRUE(WaitFor([&] { return host.memory.attach(); }));
    // Ready, running, an arrival held open by the arrival bit, one opened by a counter step,
    // idle; then the path read back and the recording's frames.
    Drive(kReady, 1.0);
    Drive(kRunning, 2.5);
    const long long arrival0 = Drive(kRunning | kArrival, 0.6);
    // The arrival's opening writes the path back; a slow build on a busy machine may take
    // longer than the 0.6 s, and the bit holds the arrival open meanwhile.
    for (int i = 0; i < 20 && host.Path().empty(); ++i)
        Drive(kRunning | kArrival, 0.2);
    const std::string path = host.Path();
    const long long end0 = Drive(kRunning, 2.5);
    ++counter;
    const long long arrival1 = Drive(kRunning, 1.0);
    EXPECT_EQ(host.Path(), path);
    Drive(0, 1.0);
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(fs::path(path).parent_path(), recordings);
    EXPECT_EQ(fs::path(path).extension(), ".vlv");
    // Runs of camera frames, as (first, last) times: one run per arrival, the two seconds
    // between them a long gap (over ten) in the camera's numbers. Frames the frame path drops on
    // a busy machine are its own tests' matter, not the link's. The times follow the host's
    // clock, which stalls with the host process on a busy machine, so their spacing is not
    // checked, only that they rise.
    std::vector<std::pair<long long, long long>> runs;
    long long lastSequence = -100;
    for (const Frame& frame : Inspect(path).listed) {
        EXPECT_TRUE(runs.empty() || frame.time > runs.back().second) << frame.sequence;
        if (frame.sequence > std::exchange(lastSequence, frame.sequence) + 10)
            runs.push_back({frame.time, frame.time});
        runs.back().second = frame.time;
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

} // namespace
} // namespace quillon
