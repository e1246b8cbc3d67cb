// The host's block as the recorder reads it; the segment and its lock against a host built on
// Qt's own QSharedMemory and QSystemSemaphore; and the poll turning the block into race
// operations.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <QSystemSemaphore>
#include <cstring>
#include <filesystem>
#include <limits>

#include "QtHost.h"
#include "common/Network.h"
#include "core/RaceFakes.h"
#include "shmem/CQSharedMemory.h"
#include "shmem/HostBlock.h"
#include "shmem/IpcNames.h"
#include "shmem/SharedMemoryLink.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
constexpr const char* kKey = SharedMemoryLink::kKey;

TEST(HostBlockTest, FieldsDecodeWithTheirByteOrders) {
    // Flags 0x1234 (the recorder reads bits of byte 1), then big-endian counter, t1 and t0.
    uint8_t raw[40] = {0x34, 0x12, 0, 0, 0x01, 0x02, 0x03, 0x04, 0xFF, 0, 0, 0x01};
    raw[20] = 0x80, raw[23] = 0x02;
    const double scale = 0.25;
    std::memcpy(raw + 32, &scale, 8);
    const HostBlock block = DecodeHostBlock(raw, sizeof raw);
    EXPECT_EQ(std::tuple(block.flags, block.counter, block.t1, block.t0, block.scale),
              std::tuple(0x1234, 0x01020304u, 0xFF000001u, 0x80000002u, 0.25));
    // A short block reads as zeros past its end.
    EXPECT_EQ(DecodeHostBlock(raw, 6).counter, 0x01020000u);
    EXPECT_EQ(DecodeHostBlock(nullptr, 40).flags, 0);
}

TEST(HostBlockTest, RaceTimeWrapsScalesAndTruncates) {
    // t1, t0, scale (counts per ms), race time in ms.
    const std::tuple<uint32_t, uint32_t, double, uint32_t> cases[] = {
        {12345, 345, 1000.0, 12000},                         // counts in milliseconds
        {5, 0xFFFFFFFBu, 1000.0, 10},                        // t1 < t0: the clock passed 2^32
        {1999, 0, 1.0, 1},                                   // 1.999 ms truncates
        {0xFFFFFFFFu, 0, 10000.0, uint32_t(42949672950ull)}, // low 32 bits of a 64-bit time
        {10, 0, -1000.0, uint32_t(-10)}, // a negative scale truncates toward zero
        {10, 0, std::numeric_limits<double>::quiet_NaN(), 0},
        {0xFFFFFFFFu, 0, 1e300, 0}, // beyond 64 bits
    };
    for (const auto& [t1, t0, scale, ms] : cases)
        EXPECT_EQ((HostBlock{0, 0, t1, t0, scale}.RaceTime()), ms)
            << t1 << " " << t0 << " " << scale;
}

TEST(HostBlockTest, PollDecidesByTheFirstRuleThatApplies) {
    const unsigned open = kPollSetClock | kPollArrival;
    // Flags, counter; ready, started, arrival open, last counter; the steps.
    const std::tuple<uint16_t, uint32_t, PollSituation, unsigned> cases[] = {
        // First poll after start, running, counter 7 over the last 0: an arrival.
        {0x0800, 7, {false, true, false, 0}, open},
        {0x0800, 7, {false, true, false, 7}, kPollSetClock}, // the same counter again
        {0x0800, 3, {false, true, false, 7}, kPollSetClock}, // a smaller one opens nothing
        {0x0400, 9, {true, false, false, 7}, 0},             // a step without running
        // The arrival bit opens once; while it stays, only the clock follows the host.
        {0x1800, 0, {false, true, false, 0}, open},
        {0x1800, 0, {false, true, true, 0}, kPollSetClock},
        {0x1000, 0, {false, false, false, 0}, kPollStart | open}, // not started yet
        // Running: start, or end an open arrival; the clock follows.
        {0x0800, 0, {true, false, false, 0}, kPollStart | kPollSetClock},
        {0x0800, 0, {false, true, true, 0}, kPollEndArrival | kPollSetClock},
        {0x0C00, 0, {false, true, false, 0}, kPollSetClock},
        // Ready once; flags 0 and foreign bits are idle at every poll.
        {0x0400, 0, {false, false, false, 0}, kPollReady},
        {0x0400, 0, {true, false, false, 0}, 0},
        {0x0000, 0, {false, false, false, 0}, kPollIdle},
        {0xE3FF, 99, {false, true, true, 0}, kPollIdle},
        // Idle with the arrival time left at 0 is no open arrival.
        {0x0800, 1, {false, false, true, 0}, kPollStart | open},
    };
    for (const auto& [flags, counter, now, steps] : cases) {
        EXPECT_EQ(DecidePoll(HostBlock{flags, counter}, now), steps)
            << std::hex << flags << " counter " << counter << " last " << now.lastCounter;
    }
}

struct SharedMemoryTest : ::testing::Test {
    QCoreApplication& app = TestCoreApplication();
    PrivateTempDir tmp;
};

// A process killed while attached leaves the key file and a segment with old flags; a recorder
// coming first makes it anew, zeroed but for the size it asked for, and a host attaches to it.
// A host coming first keeps its segment, and its lock (QSharedMemory's, or the key's
// QSystemSemaphore) is the recorder's.
TEST_F(SharedMemoryTest, RecorderOrHostFirstOneSegmentAndOneLock) {
    const std::string keyFile = ipc::KeyFilePath(ipc::kSharedMemoryPrefix, kKey);
    ASSERT_EQ(ipc::MakeKeyFile(keyFile), 1);
    const int id = shmget(ftok(keyFile.c_str(), 'Q'), 165, IPC_CREAT | IPC_EXCL | 0600);
    ASSERT_NE(id, -1);
    auto* stale = static_cast<uint8_t*>(shmat(id, nullptr, 0));
    stale[1] = 0x18;
    shmdt(stale);
    auto recorder = std::make_unique<CQSharedMemory>(kKey, 165, 169);
    ASSERT_TRUE(recorder->IsAttached()) << recorder->LastError();
    EXPECT_TRUE(recorder->Created());
    QtHost host;
    ASSERT_TRUE(host.memory.attach()) << host.memory.errorString().toStdString();
    ASSERT_EQ(host.memory.size(), 169);
    EXPECT_EQ(host.Bytes(0, 169), std::string(4, '\0') + char(0xA5) + std::string(164, '\0'));
    host.WriteBlock(0x0800, 7, 0, 0, 1000.0);
    uint8_t flags[2] = {};
    ASSERT_TRUE(recorder->Read(flags, 2, 0));
    EXPECT_EQ(flags[1], 0x08);
    // Nothing past the end is read or written.
    EXPECT_FALSE(recorder->Read(flags, 2, 168));
    EXPECT_EQ(recorder->LastError(), ERANGE);
    // The host keeps the segment after the recorder has gone; the last to go removes it.
    recorder.reset();
    EXPECT_EQ(host.Bytes(5, 1), std::string(1, '\0'));
    host.memory.detach();
    EXPECT_FALSE(fs::exists(keyFile));
    EXPECT_FALSE(host.memory.attach());
    // A host that comes first keeps its own segment.
    ASSERT_TRUE(host.memory.create(165));
    host.WriteBlock(0x0400, 0x01020304, 0, 0, 1000.0);
    recorder = std::make_unique<CQSharedMemory>(kKey, 165, 169);
    ASSERT_TRUE(recorder->IsAttached());
    EXPECT_EQ(std::pair(recorder->Created(), recorder->Size()), std::pair(false, size_t(165)));
    uint8_t counter[4] = {};
    ASSERT_TRUE(recorder->Read(counter, 4, 4));
    EXPECT_EQ(counter[0] * 256 + counter[3], 0x0104); // big-endian 0x01020304
    // While the host holds QSharedMemory's lock, or the key's QSystemSemaphore, nothing moves.
    ASSERT_TRUE(host.memory.lock());
    EXPECT_FALSE(recorder->Read(counter, 1, 0));
    EXPECT_EQ(recorder->LastError(), EAGAIN);
    host.memory.unlock();
    EXPECT_TRUE(recorder->Read(counter, 1, 0));
    QSystemSemaphore semaphore(kKey);
    ASSERT_TRUE(semaphore.acquire());
    EXPECT_FALSE(recorder->Write(counter, 1, 0));
    semaphore.release();
    EXPECT_TRUE(recorder->Write(counter, 1, 0));
}

TEST_F(SharedMemoryTest, PollFollowsTheHostsCounterAndClockAndWritesThePathBack) {
    RaceFakes race;
    const std::string path(200, 'p');
    SharedMemoryLink link(race.race, [&path] { return path; });
    link.SwitchOn();
    auto host = std::make_unique<QtHost>();
    ASSERT_TRUE(host->memory.attach());
    // Started with the host's time; a counter of 7 at the first poll opens an arrival, and a
    // 200-character path fills the field with no terminator.
    host->WriteBlock(0x0800, 7, 4000, 1000, 1000.0);
    link.Poll();
    EXPECT_EQ(std::tuple(race.race.State(), race.passes, race.race.ArrivalTime()),
              std::tuple(kStarted, 1, 3000u));
    EXPECT_EQ(host->Bytes(41, 128), path.substr(0, 128));
    link.Poll(); // ended at the next poll
    EXPECT_NE(race.race.ArrivalEndTime(), 0u);
    // A smaller counter opens nothing and is the new reference; the next step over it opens.
    host->WriteBlock(0x0800, 2, 5000, 1000, 1000.0);
    link.Poll();
    EXPECT_EQ(race.passes, 1);
    host->WriteBlock(0x0800, 3, 6000, 1000, 1000.0);
    link.Poll();
    EXPECT_EQ(std::pair(race.passes, race.race.ArrivalTime()), std::pair(2, 5000u));
    // Off, and on with the host's own 165-byte segment: the last counter stays, and the path
    // is cut where the segment ends.
    link.SwitchOff();
    host = std::make_unique<QtHost>();
    ASSERT_TRUE(host->memory.create(165));
    host->WriteBlock(0x0800, 3, 7000, 1000, 1000.0);
    link.SwitchOn();
    link.Poll();
    link.Poll();
    EXPECT_EQ(race.passes, 2);
    link.WriteFilePath(path);
    EXPECT_EQ(host->Bytes(41, 124), std::string(124, 'p'));
    link.WriteFilePath("0123456789");
    EXPECT_EQ(host->Bytes(41, 124), "0123456789" + std::string(114, '\0'));
    host->WriteBlock(0, 3, 0, 0, 0.0);
    link.Poll();
    EXPECT_EQ(race.race.State(), kIdle);
}

} // namespace
} // namespace quillon
