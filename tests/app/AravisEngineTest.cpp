// The engine with the fake GigE Vision camera: a camera that vanishes mid-race shows in the
// status text and in the dropped-frame count, the race goes on, and the camera comes back on its
// own.
#include <gtest/gtest.h>

#include "RecorderEngine.h"
#include "common/FakeGvCamera.h"
#include "common/Network.h"
#include "common/WaitUntil.h"

namespace quillon {
namespace {

using testing::FakeGvCamera;

TEST(AravisEngineTest, LostCameraShowsInTheStatusAndTheRaceGoesOn) {
    QUILLON_SKIP_WITHOUT_FAKE_GV_CAMERA();
    TestCoreApplication();
    FakeGvCamera fake;
    ASSERT_TRUE(fake.Start());
    MonotonicTickSource ticks;
    RecorderEngine engine(ticks);
    ASSERT_TRUE(engine.AllocateFrameStores());
    ASSERT_EQ(engine.StartCamera(std::string("aravis:") + FakeGvCamera::kId),
              CameraStartResult::kStreaming);
    engine.LoadSettings("/nonexistent/settings.ini"); // first run: 800 x 400 centred
    engine.Camera().Framerate = 50.0f;
    ASSERT_TRUE(engine.ApplyCameraSettings());
    ASSERT_TRUE(WaitUntil([&] { return engine.ProcessedFrames() > 10; }, 10000));
    engine.Race().OnReadyButton();
    engine.Race().OnStartButton();
    ASSERT_EQ(engine.Race().StateWord().load(), kStarted);
    const uint64_t droppedBefore = engine.DroppedFrames();

    fake.Stop();
    ASSERT_TRUE(
        WaitUntil([&] { return engine.Status() == RecorderEngine::kCameraLostText; }, 6000));
    EXPECT_EQ(engine.Race().StateWord().load(), kStarted);
    // 2 s without a frame at 50 fps before the loss is noticed, and counting on.
    EXPECT_GE(engine.DroppedFrames(), droppedBefore + 90);

    ASSERT_TRUE(fake.Start());
    ASSERT_TRUE(WaitUntil([&] { return engine.Status() == RecorderEngine::kNoHostText; }, 10000));
    const uint64_t processed = engine.ProcessedFrames();
    EXPECT_TRUE(WaitUntil([&] { return engine.ProcessedFrames() > processed + 10; }, 5000));
    EXPECT_EQ(engine.Race().StateWord().load(), kStarted);
}

} // namespace
} // namespace quillon
