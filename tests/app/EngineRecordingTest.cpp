// The engine with the simulated camera, without a window: whether a frame is recorded must not
// depend on the user-interface thread.
#include <thread>

#include "RecorderEngine.h"
#include "common/RecorderProcess.h"
#include "common/WaitUntil.h"
#include "recording/QuillonFile.h"

namespace quillon {
namespace {

using EngineRecordingTest = RecorderProcessTest;

TEST_F(EngineRecordingTest, UserInterfaceHeldUpMidArrivalLosesNoFrame) {
    MonotonicTickSource ticks;
    RaceRun run;
    long long before = 0, after = 0;
    {
        RecorderEngine engine(ticks);
        engine.SetShareConfig((dir / "smb.conf").string());
        ASSERT_TRUE(engine.AllocateFrameStores());
        ASSERT_EQ(engine.StartCamera("sim"), CameraStartResult::kStreaming);
        engine.Camera() = {.Width = 800, .Height = 400, .Framerate = 50, .Brightnes = 12};
        ASSERT_TRUE(engine.ApplyCameraSettings());
        engine.App().Filetype = kFileVlv;
        RaceStateMachine& race = engine.Race();
        before = race.BeforeWindowMs(); // 15 frames at 50 fps
        after = race.AfterWindowMs();
        race.OnReady();
        race.OnStart();
        WaitUntil([] { return false; }, 1000);
        run.arrival = {race.CurrentRaceTime()};
        race.OnArrival(std::to_string(run.arrival[0]));
        // As a modal dialog or a slow paint would: no events for two seconds.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        WaitUntil([] { return false; }, 200);
        run.end = {race.CurrentRaceTime()};
        race.OnEndArrival(std::to_string(run.end[0]));
        // The worker stops writing at the first frame after the after-window.
        EXPECT_TRUE(WaitUntil([&] { return !engine.Saving().IsSaving(); }, 15000));
        race.OnIdle();
        EXPECT_EQ(engine.DroppedFrames(), 0u);
        engine.Shutdown(false, {});
    }
    // One unbroken run from the before-window, through the 2.2 s held up, to the end of the
    // after-window.
    run.file = Inspect(Recording());
    ExpectArrivals(run, before, after, 20);
}

} // namespace
} // namespace quillon
