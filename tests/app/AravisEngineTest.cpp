// The engine with the fake GigE Vision camera: a camera that vanishes mid-race shows in the
// status text and in the dropped-frame count, the race goes on, the camera comes back on its
// own with its settings, and closing while it is gone is quick.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "RecorderEngine.h"
#include "common/FakeGvCamera.h"
#include "common/Network.h"
#include "common/WaitUntil.h"

namespace quillon {
namespace {

using testing::FakeGvCamera;

TEST(AravisEngineTest, LostCameraShowsInTheStatusTheRaceGoesOnAndItComesBackWithItsSettings) {
    QUILLON_SKIP_WITHOUT_FAKE_GV_CAMERA();
    TestCoreApplication();
    FakeGvCamera fake;
    ASSERT_TRUE(fake.Start());
    MonotonicTickSource ticks;
    auto engine = std::make_unique<RecorderEngine>(ticks);
    ASSERT_TRUE(engine->AllocateFrameStores());
    ASSERT_EQ(engine->StartCamera(std::string("aravis:") + FakeGvCamera::kId),
              CameraStartResult::kStreaming);
    engine->LoadSettings("/nonexistent/settings.ini"); // first run: 800 x 400 centred
    engine->Camera().Framerate = 50.0f;
    ASSERT_TRUE(engine->ApplyCameraSettings());
    ASSERT_TRUE(WaitUntil([&] { return engine->ProcessedFrames() > 10; }, 10000));
    engine->Race().OnReadyButton();
    engine->Race().OnStartButton();
    ASSERT_EQ(engine->Race().StateWord().load(), kStarted);
    const uint64_t droppedBefore = engine->DroppedFrames();
    const auto lost = [&] { return engine->Status() == RecorderEngine::kCameraLostText; };

    fake.Stop();
    ASSERT_TRUE(WaitUntil(lost, 6000));
    EXPECT_EQ(engine->Race().StateWord().load(), kStarted);
    // 2 s without a frame at 50 fps before the loss is noticed, and counting on.
    const uint64_t droppedAtDetection = engine->DroppedFrames();
    EXPECT_GE(droppedAtDetection, droppedBefore + 90);
    CameraSettings format;
    EXPECT_FALSE(engine->Device()->ReadFormat(format)) << "nothing to read from";
    WaitUntil([] { return false; }, 1000); // a second more
    EXPECT_GT(engine->DroppedFrames(), droppedAtDetection);

    // It comes back on its own, with its settings.
    ASSERT_TRUE(fake.Start());
    ASSERT_TRUE(WaitUntil([&] { return engine->Status() == RecorderEngine::kNoHostText; }, 10000));
    const uint64_t processed = engine->ProcessedFrames();
    EXPECT_TRUE(WaitUntil([&] { return engine->ProcessedFrames() > processed + 10; }, 5000));
    EXPECT_EQ(engine->Race().StateWord().load(), kStarted);
    ASSERT_TRUE(engine->Device()->ReadFormat(format));
    EXPECT_EQ(std::tie(format.Width, format.YOffset), std::make_tuple(800u, 824u));
    EXPECT_FLOAT_EQ(format.Framerate, 50.0f);

    // Closing while the camera is gone does not wait long.
    fake.Stop();
    ASSERT_TRUE(WaitUntil(lost, 6000));
    const auto closing = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
}

} // namespace
} // namespace quillon
