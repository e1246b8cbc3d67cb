#include "core/RaceStateMachine.h"

#include <gtest/gtest.h>

#include "core/RaceFakes.h"

namespace quillon {
namespace {

using Replies = std::vector<std::string>;

class RaceStateMachineTest : public ::testing::Test, public RaceFakes {
protected:
    RaceStateMachineTest() { race.SetView(this); }

    // A sync at `tick` with race time `raceTime`: request sent and answered at the same tick.
    void SyncAt(uint32_t tick, uint32_t raceTime) {
        ticks.Set(tick);
        race.SendTimeRequest();
        race.OnTimeReply(std::to_string(raceTime));
        replies.clear();
    }
};

// A clock reply counts half the round trip. A host that stops answering (or leaves mid-race)
// never stalls or steps the clock: it runs on with the local ticks from the last sync, and the
// silence is reported. START restarts it at 0. The shown time changes only when its text does.
TEST_F(RaceStateMachineTest, RaceClockRunsOnFromTheLastSyncWhateverTheHostDoes) {
    ticks.Set(10000);
    race.SendTimeRequest();
    EXPECT_EQ(replies.back(), "TIME~10000");
    ticks.Set(10100);
    race.OnTimeReply("60000");
    EXPECT_EQ(std::pair(race.RaceTimeAtSync(), race.SyncTick()), std::pair(60050u, 10100u));
    connected = true;
    race.OnStart();
    ticks.Set(10140);
    EXPECT_EQ(race.CurrentRaceTime(), 40u);   // not the last race's 60090
    EXPECT_EQ(shownTimes.back(), "00:00:00"); // the last race's time goes at once
    SyncAt(20000, 60000);
    race.SendTimeRequest(); // never answered
    ticks.Set(20000 + RaceStateMachine::kClockAnswerTimeoutMs);
    EXPECT_FALSE(race.HostClockSilent());
    ticks.Advance(1);
    EXPECT_EQ(std::pair(race.CurrentRaceTime(), race.HostClockSilent()), std::pair(62501u, true));
    connected = false;
    EXPECT_EQ(std::pair(race.CurrentRaceTime(), race.HostClockSilent()), std::pair(62501u, false));
    connected = true;
    race.OnTimeReply("62600");
    EXPECT_FALSE(race.HostClockSilent());
    // The local tick count wraps round 2^32 without disturbing the clock, and goes out as a
    // signed decimal past 2^31.
    SyncAt(0xFFFFFF00u, 1000);
    ticks.Set(0x00000064u);
    EXPECT_EQ(race.CurrentRaceTime(), 1000u + 0x100u + 0x64u);
    ticks.Set(0x80000000u);
    race.SendTimeRequest();
    EXPECT_EQ(replies.back(), "TIME~-2147483648");
    race.OnIdle();
    EXPECT_EQ(std::pair(race.SyncTick(), race.TimeRequestTick()), std::pair(0u, 0u));
    EXPECT_EQ(RaceStateMachine::FormatElapsed(90000000), "25:00:00");
    shownTimes.clear();
    race.SetRaceTime(3723000);
    race.SetRaceTime(3723400);
    EXPECT_EQ(shownTimes, Replies{"01:02:03"});
}

// ARRIVAL while idle runs READY and START first; SAVE only answers. STOP keeps the recording
// and IDLE ends it; every-frame recordings have no worker to stop.
TEST_F(RaceStateMachineTest, ArrivalWhileIdleStartsTheRaceOnlyIdleEndsTheRecordingButtonsYield) {
    connected = true;
    race.OnArrival("0");
    EXPECT_EQ(replies, (Replies{"FILENAME~L~127.0.0.1~QUILLON1.vlv@", "RE~READY", "RE~START",
                                "RE~ARRIVAL"}));
    EXPECT_EQ(race.State(), kStarted);
    EXPECT_FALSE(enabled[int(RaceButton::Ready)] || enabled[int(RaceButton::Start)]);
    replies.clear();
    race.OnSaveCommand();
    EXPECT_EQ(std::pair(replies, race.State()),
              std::pair(Replies{"FILENAME~@", "RE~SAVE"}, kStarted));
    race.OnStop();
    EXPECT_EQ(std::tuple(race.State(), hasRecorder, deletes), std::tuple(kIdle, true, 0));
    race.OnIdle();
    EXPECT_EQ(std::pair(stops, deletes), std::pair(1, 1));
    race.OnReady();
    everyFrame = true;
    race.OnIdle();
    EXPECT_EQ(std::tuple(stops, deletes, replies.back()), std::tuple(1, 2, "RE~IDLE"));
    // The window's READY and START only act without a host; its ARRIVAL with a host only sets a
    // manual arrival.
    replies.clear();
    race.OnReadyButton();
    race.OnStartButton();
    EXPECT_EQ(std::pair(race.State(), replies.empty()), std::pair(kIdle, true));
    connected = false;
    race.OnStartButton();
    EXPECT_EQ(race.State(), kStarted);
    connected = true;
    replies.clear();
    race.OnArrivalButton();
    EXPECT_EQ(std::tuple(race.ManualArrival(), race.ArrivalTime(), passes),
              std::tuple(true, 0u, 0)); // marked, but no pass of its own
    EXPECT_EQ(replies, Replies{"RE~ARRIVAL"});
    race.OnArrivalButton();
    EXPECT_EQ(std::tuple(race.ManualArrival(), replies.back()), std::tuple(false, "RE~ENDARRIVAL"));
}

// Arrivals from a host move only forward and stay near our clock. ENDARRIVAL marks nothing
// without an arrival; it closes an open one after the after-window, and an earlier end does not
// move that back. Window lengths truncate to whole ms.
TEST_F(RaceStateMachineTest, ArrivalsMoveOnlyForwardStayNearOurClockAndEndAfterTheAfterWindow) {
    race.OnReady();
    race.OnEndArrival("5000");
    EXPECT_EQ(race.ArrivalEndTime(), RaceStateMachine::kNoArrivalYet);
    EXPECT_EQ(replies.back(), "RE~ENDARRIVAL");
    connected = true;
    race.OnStart();
    SyncAt(20000, 70000);
    race.OnArrival("70200");
    EXPECT_EQ(std::tuple(race.ArrivalTime(), race.ArrivalEndTime(), passes),
              std::tuple(70200u, 0u, 1));
    replies.clear();
    race.OnArrival("70200"); // repeat: acknowledged only
    race.OnArrival("70100"); // older: acknowledged only
    EXPECT_EQ(std::pair(race.ArrivalTime(), passes), std::pair(70200u, 1));
    EXPECT_EQ(replies, (Replies{"RE~ARRIVAL", "RE~ARRIVAL"}));
    race.OnArrival("70500");
    EXPECT_EQ(std::pair(race.ArrivalTime(), passes), std::pair(70500u, 2));
    ticks.Set(20300);
    race.OnArrival("80000"); // 9.7 s ahead of our race time: ours is taken
    EXPECT_EQ(race.ArrivalTime(), 70300u);
    race.OnArrival("71299"); // 999 ms ahead: taken as it is
    EXPECT_EQ(race.ArrivalTime(), 71299u);
    ticks.Set(20500);
    race.OnEndArrival("71400");
    // 10 frames after at 25 fps: 400 ms.
    EXPECT_EQ(std::pair(race.ArrivalEndTime(), enabled[int(RaceButton::Arrival)]),
              std::pair(71800u, true));
    race.OnEndArrival("71300");
    EXPECT_EQ(race.ArrivalEndTime(), 71800u);
    camera.Framerate = 29.97f;
    app.FramesBefore = 15;
    // 1000 / 29.97 (as a float widened to double) x 15 = 500.500... -> 500
    EXPECT_EQ(race.BeforeWindowMs(), 500u);
    camera.Framerate = 3.75f;
    EXPECT_EQ(race.AfterWindowMs(), 2666u);
}

} // namespace
} // namespace quillon
