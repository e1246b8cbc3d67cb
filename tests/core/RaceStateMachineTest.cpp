#include "core/RaceStateMachine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {
namespace {

struct FakeLink : ReplySink {
    std::vector<std::string> replies;
    bool connected = false;
    void SendReply(std::string_view text) override { replies.emplace_back(text); }
    bool IsHostConnected() const override { return connected; }
};

struct FakeRecording : RecordingSteps {
    bool hasRecorder = false;
    bool everyFrame = false;
    int stops = 0, deletes = 0, prepares = 0, passes = 0;
    FakeLink* link = nullptr;
    bool HasRecorder() const override { return hasRecorder; }
    bool IsEveryFrame() const override { return everyFrame; }
    void StopSaveWorker() override { ++stops; }
    void DeleteRecorder() override {
        ++deletes;
        hasRecorder = false;
    }
    void PrepareRecording() override {
        ++prepares;
        hasRecorder = true;
        link->SendReply("FILENAME~L~127.0.0.1~QUILLON1.vlv@");
    }
    void StartSavePass() override { ++passes; }
};

struct FakeView : RaceView {
    std::vector<std::string> shownTimes;
    bool readyEnabled = true, startEnabled = true, arrivalEnabled = true;
    void ShowElapsedTime(const std::string& text) override { shownTimes.push_back(text); }
    void EnableRaceButton(RaceButton b, bool on) override {
        (b == RaceButton::Ready   ? readyEnabled
         : b == RaceButton::Start ? startEnabled
                                  : arrivalEnabled) = on;
    }
};

class RaceStateMachineTest : public ::testing::Test {
protected:
    RaceStateMachineTest() : race(link, recording, ticks, app, camera) {
        recording.link = &link;
        camera.Framerate = 25.0f;
        race.SetView(&view);
    }

    // A sync at `tick` with race time `raceTime`: request sent and answered at the same tick.
    void SyncAt(uint32_t tick, uint32_t raceTime) {
        ticks.Set(tick);
        race.SendTimeRequest();
        race.OnTimeReply(std::to_string(raceTime));
        link.replies.clear();
    }

    FakeLink link;
    FakeRecording recording;
    FakeView view;
    ManualTickSource ticks{5000};
    AppSettings app;
    CameraSettings camera;
    RaceStateMachine race;
};

// A host that stops answering (or connects and leaves mid-race) never stalls or steps the
// clock: it runs on with the local ticks from the last sync, and the silence is reported.
TEST_F(RaceStateMachineTest, RaceClockRunsOnFromTheLastSyncWhateverTheHostDoes) {
    link.connected = true;
    race.OnStart();
    SyncAt(10000, 60000);
    ticks.Set(10400);
    EXPECT_EQ(race.CurrentRaceTime(), 60400u);
    race.SendTimeRequest(); // never answered
    ticks.Set(12900);
    EXPECT_FALSE(race.HostClockSilent());
    ticks.Set(15000);
    EXPECT_EQ(race.CurrentRaceTime(), 65000u);
    EXPECT_TRUE(race.HostClockSilent());
    link.connected = false;
    EXPECT_EQ(race.CurrentRaceTime(), 65000u);
    EXPECT_FALSE(race.HostClockSilent());
    link.connected = true;
    race.OnTimeReply("65100");
    EXPECT_FALSE(race.HostClockSilent());
    // The local tick count wraps round 2^32 without disturbing the clock.
    SyncAt(0xFFFFFF00u, 1000);
    ticks.Set(0x00000064u);
    EXPECT_EQ(race.CurrentRaceTime(), 1000u + 0x100u + 0x64u);
}

TEST_F(RaceStateMachineTest, ClockReplyAddsHalfTheRoundTrip) {
    ticks.Set(10000);
    race.SendTimeRequest();
    EXPECT_EQ(link.replies.back(), "TIME~10000");
    ticks.Set(10100);
    race.OnTimeReply("60000");
    EXPECT_EQ(race.RaceTimeAtSync(), 60050u);
    EXPECT_EQ(race.SyncTick(), 10100u);
    // A tick count past 2^31 goes out as a signed decimal.
    ticks.Set(0x80000000u);
    race.SendTimeRequest();
    EXPECT_EQ(link.replies.back(), "TIME~-2147483648");
}

TEST_F(RaceStateMachineTest, ElapsedTimeTextChangesOnlyWhenItDiffers) {
    EXPECT_EQ(RaceStateMachine::FormatElapsed(3723000), "01:02:03");
    EXPECT_EQ(RaceStateMachine::FormatElapsed(90000000), "25:00:00");
    race.SetRaceTime(3723000);
    race.SetRaceTime(3723400); // same text: not shown again
    ASSERT_EQ(view.shownTimes.size(), 1u);
    EXPECT_EQ(view.shownTimes[0], "01:02:03");
}

TEST_F(RaceStateMachineTest, StartWhileIdleRunsReadyFirst) {
    race.OnStart();
    EXPECT_EQ(race.State(), kStarted);
    EXPECT_EQ(link.replies, (std::vector<std::string>{"FILENAME~L~127.0.0.1~QUILLON1.vlv@",
                                                      "RE~READY", "RE~START"}));
    EXPECT_FALSE(view.readyEnabled);
    EXPECT_FALSE(view.startEnabled);
}

TEST_F(RaceStateMachineTest, ArrivalWhileIdleRunsReadyAndStartInOrder) {
    link.connected = true;
    race.OnArrival("0");
    EXPECT_EQ(link.replies, (std::vector<std::string>{"FILENAME~L~127.0.0.1~QUILLON1.vlv@",
                                                      "RE~READY", "RE~START", "RE~ARRIVAL"}));
    EXPECT_EQ(race.State(), kStarted);
}

TEST_F(RaceStateMachineTest, WithoutAHostTheClockRunsOnWithTheTickCount) {
    SyncAt(10000, 60000);
    ticks.Set(15000);
    EXPECT_EQ(race.CurrentRaceTime(), 65000u);
    race.OnStart(); // the race runs from 0 now, on the local clock
    ticks.Set(20000);
    EXPECT_EQ(race.CurrentRaceTime(), 5000u);
    ticks.Set(60000);
    EXPECT_EQ(race.CurrentRaceTime(), 45000u);
}

TEST_F(RaceStateMachineTest, StartRestartsTheClockAtZeroAndIdleStopsIt) {
    link.connected = true;
    SyncAt(10000, 60000);
    ticks.Set(10500);
    race.OnStart();
    ticks.Set(10540);
    EXPECT_EQ(race.CurrentRaceTime(), 40u);        // not the last race's 60000 and more
    EXPECT_EQ(view.shownTimes.back(), "00:00:00"); // the last race's time goes at once
    ticks.Set(13000);
    EXPECT_EQ(race.CurrentRaceTime(), 2500u);
    race.OnIdle();
    EXPECT_EQ(race.SyncTick(), 0u);
    EXPECT_EQ(race.TimeRequestTick(), 0u);
}

TEST_F(RaceStateMachineTest, ArrivalsFromAHostMoveOnlyForward) {
    link.connected = true;
    SyncAt(10000, 60000);
    race.OnStart();
    SyncAt(20000, 70000);
    race.OnArrival("70200");
    EXPECT_EQ(race.ArrivalTime(), 70200u);
    EXPECT_EQ(race.ArrivalEndTime(), 0u);
    EXPECT_EQ(recording.passes, 1);
    link.replies.clear();
    race.OnArrival("70200"); // repeat: acknowledged only
    race.OnArrival("70100"); // older: acknowledged only
    EXPECT_EQ(race.ArrivalTime(), 70200u);
    EXPECT_EQ(recording.passes, 1);
    EXPECT_EQ(link.replies, (std::vector<std::string>{"RE~ARRIVAL", "RE~ARRIVAL"}));
    race.OnArrival("70500");
    EXPECT_EQ(race.ArrivalTime(), 70500u);
    EXPECT_EQ(recording.passes, 2);
}

TEST_F(RaceStateMachineTest, ArrivalFarFromOurClockTakesOurClock) {
    link.connected = true;
    race.OnStart();
    SyncAt(20000, 70000);
    ticks.Set(20300);
    race.OnArrival("80000"); // 9.7 s ahead of our race time
    EXPECT_EQ(race.ArrivalTime(), 70300u);
    race.OnArrival("71299"); // 999 ms ahead: taken as it is
    EXPECT_EQ(race.ArrivalTime(), 71299u);
}

TEST_F(RaceStateMachineTest, ArrivalButtonWithHostConnectedOnlySetsManualArrival) {
    link.connected = true;
    race.OnStart();
    link.replies.clear();
    race.OnArrivalButton();
    EXPECT_TRUE(race.ManualArrival());
    EXPECT_EQ(race.ArrivalTime(), 0u);
    EXPECT_EQ(recording.passes, 0);
    EXPECT_EQ(link.replies, std::vector<std::string>{"RE~ARRIVAL"});
    race.OnArrivalButton();
    EXPECT_FALSE(race.ManualArrival());
    EXPECT_EQ(link.replies.back(), "RE~ENDARRIVAL");
}

TEST_F(RaceStateMachineTest, EndArrivalClosesAfterTheAfterWindow) {
    race.OnStart();
    SyncAt(20000, 70000);
    race.OnArrival("70000");
    ticks.Set(20500);
    race.OnEndArrival("70400");
    // 10 frames after at 25 fps: 400 ms.
    EXPECT_EQ(race.AfterWindowMs(), 400u);
    EXPECT_EQ(race.ArrivalEndTime(), 70800u);
    EXPECT_TRUE(view.arrivalEnabled);
    // An earlier end does not move it back.
    race.OnEndArrival("70100");
    EXPECT_EQ(race.ArrivalEndTime(), 70800u);
}

TEST_F(RaceStateMachineTest, EndArrivalWithoutArrivalLeavesNoArrivalMark) {
    race.OnReady();
    race.OnEndArrival("5000");
    EXPECT_EQ(race.ArrivalEndTime(), RaceStateMachine::kNoArrivalYet);
    EXPECT_EQ(link.replies.back(), "RE~ENDARRIVAL");
}

TEST_F(RaceStateMachineTest, IdleEndsTheRecordingAndStopKeepsIt) {
    race.OnArrival("0");
    race.OnStop();
    EXPECT_EQ(race.State(), kIdle);
    EXPECT_TRUE(recording.hasRecorder);
    EXPECT_EQ(recording.deletes, 0);
    race.OnIdle();
    EXPECT_EQ(recording.stops, 1);
    EXPECT_EQ(recording.deletes, 1);
    // Every-frame recordings have no worker to stop.
    race.OnReady();
    recording.everyFrame = true;
    race.OnIdle();
    EXPECT_EQ(recording.stops, 1);
    EXPECT_EQ(recording.deletes, 2);
    EXPECT_EQ(link.replies.back(), "RE~IDLE");
}

TEST_F(RaceStateMachineTest, SaveCommandRepliesTwiceAndChangesNothing) {
    race.OnStart();
    link.replies.clear();
    race.OnSaveCommand();
    EXPECT_EQ(link.replies, (std::vector<std::string>{"FILENAME~@", "RE~SAVE"}));
    EXPECT_EQ(race.State(), kStarted);
}

TEST_F(RaceStateMachineTest, ButtonsActOnlyWithoutAHost) {
    link.connected = true;
    race.OnReadyButton();
    race.OnStartButton();
    EXPECT_EQ(race.State(), kIdle);
    EXPECT_TRUE(link.replies.empty());
    link.connected = false;
    race.OnStartButton();
    EXPECT_EQ(race.State(), kStarted);
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
