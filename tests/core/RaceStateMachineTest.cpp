#include "core/RaceStateMachine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {
namespace {

using Replies = std::vector<std::string>;

// The link, the recording steps and the window in one: what the race did to each.
struct Fakes : ReplySink, RecordingSteps, RaceView {
    Replies replies;
    bool connected = false, hasRecorder = false, everyFrame = false;
    int stops = 0, deletes = 0, passes = 0;
    std::vector<std::string> shownTimes;
    bool enabled[3] = {true, true, true}; // by RaceButton
    void SendReply(std::string_view text) override { replies.emplace_back(text); }
    bool IsHostConnected() const override { return connected; }
    bool HasRecorder() const override { return hasRecorder; }
    bool IsEveryFrame() const override { return everyFrame; }
    void StopSaveWorker() override { ++stops; }
    void DeleteRecorder() override { ++deletes, hasRecorder = false; }
    void PrepareRecording() override {
        hasRecorder = true;
        SendReply("FILENAME~L~127.0.0.1~QUILLON1.vlv@");
    }
    void StartSavePass() override { ++passes; }
    void ShowElapsedTime(const std::string& text) override { shownTimes.push_back(text); }
    void EnableRaceButton(RaceButton b, bool on) override { enabled[int(b)] = on; }
};

class RaceStateMachineTest : public ::testing::Test {
protected:
    RaceStateMachineTest() { race.SetView(&fakes); }

    // A sync at `tick` with race time `raceTime`: request sent and answered at the same tick.
    void SyncAt(uint32_t tick, uint32_t raceTime) {
        ticks.Set(tick);
        race.SendTimeRequest();
        race.OnTimeReply(std::to_string(raceTime));
        fakes.replies.clear();
    }
    bool Enabled(RaceButton b) const { return fakes.enabled[int(b)]; }

    Fakes fakes;
    ManualTickSource ticks{5000};
    AppSettings app;
    CameraSettings camera{.Framerate = 25.0f};
    RaceStateMachine race{fakes, fakes, ticks, app, camera};
};

// A host that stops answering (or leaves mid-race) never stalls or steps the clock: it runs on
// with the local ticks from the last sync, and the silence is reported. START restarts it at 0.
TEST_F(RaceStateMachineTest, RaceClockRunsOnFromTheLastSyncWhateverTheHostDoes) {
    SyncAt(10000, 60000);
    ticks.Set(15000);
    EXPECT_EQ(race.CurrentRaceTime(), 65000u);
    fakes.connected = true;
    race.OnStart();
    ticks.Set(15040);
    EXPECT_EQ(race.CurrentRaceTime(), 40u);         // not the last race's 65000 and more
    EXPECT_EQ(fakes.shownTimes.back(), "00:00:00"); // the last race's time goes at once
    SyncAt(20000, 60000);
    race.SendTimeRequest(); // never answered
    ticks.Set(20000 + RaceStateMachine::kClockAnswerTimeoutMs);
    EXPECT_FALSE(race.HostClockSilent());
    ticks.Advance(1);
    EXPECT_EQ(race.CurrentRaceTime(), 62501u);
    EXPECT_TRUE(race.HostClockSilent());
    fakes.connected = false;
    EXPECT_EQ(race.CurrentRaceTime(), 62501u);
    EXPECT_FALSE(race.HostClockSilent());
    fakes.connected = true;
    race.OnTimeReply("62600");
    EXPECT_FALSE(race.HostClockSilent());
    // The local tick count wraps round 2^32 without disturbing the clock.
    SyncAt(0xFFFFFF00u, 1000);
    ticks.Set(0x00000064u);
    EXPECT_EQ(race.CurrentRaceTime(), 1000u + 0x100u + 0x64u);
    race.OnIdle();
    EXPECT_EQ(race.SyncTick(), 0u);
    EXPECT_EQ(race.TimeRequestTick(), 0u);
}

TEST_F(RaceStateMachineTest, ClockReplyAddsHalfTheRoundTrip) {
    ticks.Set(10000);
    race.SendTimeRequest();
    EXPECT_EQ(fakes.replies.back(), "TIME~10000");
    ticks.Set(10100);
    race.OnTimeReply("60000");
    EXPECT_EQ(race.RaceTimeAtSync(), 60050u);
    EXPECT_EQ(race.SyncTick(), 10100u);
    // A tick count past 2^31 goes out as a signed decimal.
    ticks.Set(0x80000000u);
    race.SendTimeRequest();
    EXPECT_EQ(fakes.replies.back(), "TIME~-2147483648");
}

TEST_F(RaceStateMachineTest, ElapsedTimeTextChangesOnlyWhenItDiffers) {
    EXPECT_EQ(RaceStateMachine::FormatElapsed(3723000), "01:02:03");
    EXPECT_EQ(RaceStateMachine::FormatElapsed(90000000), "25:00:00");
    race.SetRaceTime(3723000);
    race.SetRaceTime(3723400); // same text: not shown again
    EXPECT_EQ(fakes.shownTimes, Replies{"01:02:03"});
}

TEST_F(RaceStateMachineTest, ArrivalWhileIdleRunsReadyAndStartInOrderAndSaveOnlyAnswers) {
    fakes.connected = true;
    race.OnArrival("0");
    EXPECT_EQ(fakes.replies, (Replies{"FILENAME~L~127.0.0.1~QUILLON1.vlv@", "RE~READY", "RE~START",
                                      "RE~ARRIVAL"}));
    EXPECT_EQ(race.State(), kStarted);
    EXPECT_FALSE(Enabled(RaceButton::Ready));
    EXPECT_FALSE(Enabled(RaceButton::Start));
    fakes.replies.clear();
    race.OnSaveCommand();
    EXPECT_EQ(fakes.replies, (Replies{"FILENAME~@", "RE~SAVE"}));
    EXPECT_EQ(race.State(), kStarted);
}

TEST_F(RaceStateMachineTest, ArrivalsFromAHostMoveOnlyForwardAndStayNearOurClock) {
    fakes.connected = true;
    race.OnStart();
    SyncAt(20000, 70000);
    race.OnArrival("70200");
    EXPECT_EQ(race.ArrivalTime(), 70200u);
    EXPECT_EQ(race.ArrivalEndTime(), 0u);
    EXPECT_EQ(fakes.passes, 1);
    fakes.replies.clear();
    race.OnArrival("70200"); // repeat: acknowledged only
    race.OnArrival("70100"); // older: acknowledged only
    EXPECT_EQ(race.ArrivalTime(), 70200u);
    EXPECT_EQ(fakes.passes, 1);
    EXPECT_EQ(fakes.replies, (Replies{"RE~ARRIVAL", "RE~ARRIVAL"}));
    race.OnArrival("70500");
    EXPECT_EQ(race.ArrivalTime(), 70500u);
    EXPECT_EQ(fakes.passes, 2);
    ticks.Set(20300);
    race.OnArrival("80000"); // 9.7 s ahead of our race time: ours is taken
    EXPECT_EQ(race.ArrivalTime(), 70300u);
    race.OnArrival("71299"); // 999 ms ahead: taken as it is
    EXPECT_EQ(race.ArrivalTime(), 71299u);
}

// READY and START only act without a host; ARRIVAL with a host only sets a manual arrival.
TEST_F(RaceStateMachineTest, WindowButtonsGiveWayToAConnectedHost) {
    fakes.connected = true;
    race.OnReadyButton();
    race.OnStartButton();
    EXPECT_EQ(race.State(), kIdle);
    EXPECT_TRUE(fakes.replies.empty());
    fakes.connected = false;
    race.OnStartButton();
    EXPECT_EQ(race.State(), kStarted);
    fakes.connected = true;
    fakes.replies.clear();
    race.OnArrivalButton();
    EXPECT_TRUE(race.ManualArrival());
    EXPECT_EQ(race.ArrivalTime(), 0u);
    EXPECT_EQ(fakes.passes, 0);
    EXPECT_EQ(fakes.replies, Replies{"RE~ARRIVAL"});
    race.OnArrivalButton();
    EXPECT_FALSE(race.ManualArrival());
    EXPECT_EQ(fakes.replies.back(), "RE~ENDARRIVAL");
}

TEST_F(RaceStateMachineTest, EndArrivalClosesAnOpenArrivalAfterTheAfterWindow) {
    race.OnReady();
    race.OnEndArrival("5000"); // no arrival: no mark
    EXPECT_EQ(race.ArrivalEndTime(), RaceStateMachine::kNoArrivalYet);
    EXPECT_EQ(fakes.replies.back(), "RE~ENDARRIVAL");
    race.OnStart();
    SyncAt(20000, 70000);
    race.OnArrival("70000");
    ticks.Set(20500);
    race.OnEndArrival("70400");
    // 10 frames after at 25 fps: 400 ms.
    EXPECT_EQ(race.ArrivalEndTime(), 70800u);
    EXPECT_TRUE(Enabled(RaceButton::Arrival));
    race.OnEndArrival("70100"); // an earlier end does not move it back
    EXPECT_EQ(race.ArrivalEndTime(), 70800u);
}

TEST_F(RaceStateMachineTest, IdleEndsTheRecordingAndStopKeepsIt) {
    race.OnArrival("0");
    race.OnStop();
    EXPECT_EQ(race.State(), kIdle);
    EXPECT_TRUE(fakes.hasRecorder);
    EXPECT_EQ(fakes.deletes, 0);
    race.OnIdle();
    EXPECT_EQ(fakes.stops, 1);
    EXPECT_EQ(fakes.deletes, 1);
    // Every-frame recordings have no worker to stop.
    race.OnReady();
    fakes.everyFrame = true;
    race.OnIdle();
    EXPECT_EQ(fakes.stops, 1);
    EXPECT_EQ(fakes.deletes, 2);
    EXPECT_EQ(fakes.replies.back(), "RE~IDLE");
}

TEST_F(RaceStateMachineTest, WindowsAroundAnArrivalTruncate) {
    camera.Framerate = 29.97f;
    app.FramesBefore = 15;
    // 1000 / 29.97 (as a float widened to double) x 15 = 500.500... -> 500
    EXPECT_EQ(race.BeforeWindowMs(), 500u);
    camera.Framerate = 3.75f;
    app.FramesAfter = 10;
    EXPECT_EQ(race.AfterWindowMs(), 2666u);
}

} // namespace
} // namespace quillon
