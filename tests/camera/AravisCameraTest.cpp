// The Aravis backend against Aravis's fake GigE Vision camera, a separate process on 127.0.0.1
// that each test starts and kills itself.
#include "camera/AravisCameraApi.h"
#include "camera/Camera.h"

#include "FrameCatcher.h"
#include "common/FakeGvCamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace quillon {
namespace {

using testing::FakeGvCamera;
using testing::FrameCatcher;
using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class AravisCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLON_SKIP_WITHOUT_FAKE_GV_CAMERA();
        ASSERT_TRUE(fake.Start()) << "the fake camera did not come up";
    }

    std::unique_ptr<CCamera> OpenCamera(const std::string& id) {
        auto camera = std::make_unique<CCamera>(
            std::make_unique<AravisCameraApi>(id),
            [this](const std::string& text) { messages.push_back(text); });
        return camera;
    }

    // 800 x 400 centred on the 2048 x 2048 sensor.
    static CameraSettings Centred(float rate) {
        CameraSettings s;
        s.Width = 800;
        s.Height = 400;
        s.XOffset = 624;
        s.YOffset = 824;
        s.PixelFormat = kPixelFormatBayerRggb8;
        s.Framerate = rate;
        s.Exposure = 1.5f;
        return s;
    }

    FakeGvCamera fake;
    FrameCatcher catcher; // before the cameras, so that it outlives their streams
    std::vector<std::string> messages;
};

TEST_F(AravisCameraTest, FindsTheNetworkCameraAndOpensItFirstOrById) {
    bool listed = false;
    for (const AravisDeviceInfo& device : ListAravisDevices()) {
        if (device.id != FakeGvCamera::kId)
            continue;
        listed = true;
        EXPECT_EQ(device.serial, FakeGvCamera::kSerial);
        EXPECT_EQ(device.protocol, "GigEVision");
        EXPECT_EQ(device.address, FakeGvCamera::kAddress);
    }
    EXPECT_TRUE(listed);

    for (const std::string id : {"", FakeGvCamera::kId, FakeGvCamera::kAddress}) {
        auto camera = OpenCamera(id);
        ASSERT_TRUE(camera->OpenCamera()) << "id '" << id << "'";
        EXPECT_EQ(camera->SerialNumberText(), FakeGvCamera::kSerial) << id;
        EXPECT_EQ(camera->MaxWidth(), 2048.0f);
        EXPECT_EQ(camera->MaxHeight(), 2048.0f);
        EXPECT_TRUE(camera->CloseCamera());
    }
    auto missing = OpenCamera("Aravis-Fake-GV99");
    EXPECT_FALSE(missing->OpenCamera());
}

TEST_F(AravisCameraTest, FormatRateExposureAndGainsGoThroughTheCamerasFeatures) {
    auto camera = OpenCamera(FakeGvCamera::kId);
    ASSERT_TRUE(camera->OpenCamera());

    struct Case {
        CameraSettings wanted;
        uint32_t x, y, width, height;
        float rate;
    };
    CameraSettings tooLarge = Centred(5000.0f);
    tooLarge.Width = 3000;
    tooLarge.XOffset = 600;
    const Case cases[] = {
        {Centred(200.0f), 624, 824, 800, 400, 200.0f},
        {Centred(25.0f), 624, 824, 800, 400, 25.0f},
        // Clamped to the sensor and the camera's highest rate; the offset follows the width.
        {tooLarge, 0, 824, 2048, 400, 1000.0f},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(camera->ApplySettings(c.wanted));
        CameraSettings read;
        ASSERT_TRUE(camera->ReadFormat(read));
        EXPECT_EQ(read.XOffset, c.x);
        EXPECT_EQ(read.YOffset, c.y);
        EXPECT_EQ(read.Width, c.width);
        EXPECT_EQ(read.Height, c.height);
        EXPECT_EQ(read.PixelFormat, kPixelFormatBayerRggb8);
        EXPECT_FLOAT_EQ(read.Framerate, c.rate);
        EXPECT_FLOAT_EQ(read.Exposure, 1.5f); // 1500 us ExposureTimeAbs
    }
    EXPECT_TRUE(messages.empty());

    // The fake has only GainRaw 0..10, taken as the factor itself, and no colour gains of its
    // own: those stay with the backend's conversion and read back as set.
    int32_t gain = 0, red = 0, green1 = 0, green2 = 0, blue = 0;
    camera->ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(gain, 4000);
    EXPECT_EQ(red, 3875);
    EXPECT_EQ(blue, 3875);

    const uint32_t count = camera->FrameRateCount();
    std::vector<float> rates(count);
    camera->ListFrameRates(rates);
    EXPECT_EQ(rates, (std::vector<float>{3.75f, 7.5f, 15.0f, 25.0f, 29.97f, 50.0f, 60.0f, 100.0f,
                                         200.0f, 500.0f, 1000.0f}));
}

TEST_F(AravisCameraTest, StreamsWholeFramesWithDistinctFirstBytes) {
    auto camera = OpenCamera(FakeGvCamera::kId);
    ASSERT_EQ(camera->StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    ASSERT_TRUE(camera->ApplySettings(Centred(100.0f)));
    catcher.ExpectLength(800 * 400);
    ASSERT_TRUE(catcher.WaitForFrames(100));
    EXPECT_EQ(catcher.WrongLengths(), 0u);
    EXPECT_EQ(catcher.RepeatedMarkers(), 0u);
    // The first bytes carry the frame id: every jump is a frame the backend counted as lost.
    EXPECT_LE(catcher.CounterJumps(), camera->LostFrames());
    EXPECT_FALSE(camera->IsCameraLost());
    EXPECT_TRUE(camera->StopStreaming());
    catcher.Seal();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(catcher.LateCalls(), 0u);
}

TEST_F(AravisCameraTest, IncompleteFramesAreCountedAndNeverHandedOn) {
    fake.Stop();
    ASSERT_TRUE(fake.Start(2)); // 2 in 1000 packets never arrive
    auto camera = OpenCamera(FakeGvCamera::kId);
    ASSERT_EQ(camera->StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    ASSERT_TRUE(camera->ApplySettings(Centred(50.0f)));
    catcher.ExpectLength(800 * 400);
    ASSERT_TRUE(catcher.WaitForFrames(30));
    camera->StopStreaming();
    EXPECT_EQ(catcher.WrongLengths(), 0u);
    EXPECT_EQ(catcher.RepeatedMarkers(), 0u);
    // The fake camera resends nothing, so many frames arrive with holes; each counts as lost.
    EXPECT_GT(camera->LostFrames(), 0u);
    EXPECT_LE(catcher.CounterJumps(), camera->LostFrames());
}

// The fake camera has no white balance of its own: a grey-world balance from the next frame
// goes into the backend's colour gains, after which the frame's colour means agree.
TEST_F(AravisCameraTest, OneShotWhiteBalanceMakesTheFrameGrey) {
    auto camera = OpenCamera(FakeGvCamera::kId);
    ASSERT_EQ(camera->StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    CameraSettings settings = Centred(25.0f);
    settings.RedGain = 8000; // far off balance
    ASSERT_TRUE(camera->ApplySettings(settings));
    ASSERT_TRUE(catcher.WaitForFrames(3));
    const auto channelSpread = [&] {
        const std::vector<uint8_t> raw = catcher.LastFrame();
        std::vector<uint8_t> bgr(800 * 400 * 3);
        EXPECT_TRUE(camera->ConvertToRgb24(bgr.data(), raw.data(), 800, 400, 0));
        double sums[3] = {};
        for (size_t i = 0; i < bgr.size(); ++i)
            sums[i % 3] += bgr[i];
        const double low = std::min({sums[0], sums[1], sums[2]});
        const double high = std::max({sums[0], sums[1], sums[2]});
        return high / std::max(low, 1.0);
    };
    EXPECT_GT(channelSpread(), 1.5);
    ASSERT_TRUE(camera->Api().OneShotAutoWhiteBalance(camera->Handle(), 0, 0, 800, 400));
    int32_t gain = 0, red = 0, green1 = 0, green2 = 0, blue = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            camera->ReadGains(gain, red, green1, green2, blue);
            return red != 8000;
        },
        std::chrono::seconds(3)));
    ASSERT_TRUE(catcher.WaitForFrames(2));
    EXPECT_LT(channelSpread(), 1.05);
}

TEST_F(AravisCameraTest, CameraKilledMidStreamIsOpenedAgainWithItsSettings) {
    auto camera = OpenCamera(FakeGvCamera::kId);
    ASSERT_EQ(camera->StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    ASSERT_TRUE(camera->ApplySettings(Centred(50.0f)));
    ASSERT_TRUE(catcher.WaitForFrames(20));

    fake.Stop();
    ASSERT_TRUE(WaitFor([&] { return camera->IsCameraLost(); }, std::chrono::seconds(6)));
    const uint64_t lostAtDetection = camera->LostFrames();
    EXPECT_GE(lostAtDetection, 50u); // at least the 2 s of silence at 50 fps
    CameraSettings whileLost;
    EXPECT_FALSE(camera->ReadFormat(whileLost));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_GT(camera->LostFrames(), lostAtDetection); // the missing frames keep counting

    ASSERT_TRUE(fake.Start());
    const uint32_t before = catcher.Frames();
    ASSERT_TRUE(WaitFor([&] { return catcher.Frames() > before + 10; }, std::chrono::seconds(10)));
    EXPECT_FALSE(camera->IsCameraLost());
    CameraSettings after;
    ASSERT_TRUE(camera->ReadFormat(after));
    EXPECT_EQ(after.Width, 800u);
    EXPECT_EQ(after.YOffset, 824u);
    EXPECT_FLOAT_EQ(after.Framerate, 50.0f);
    EXPECT_EQ(catcher.WrongLengths(), 0u);
}

TEST_F(AravisCameraTest, ClosingWhileTheCameraIsGoneDoesNotWaitLong) {
    auto camera = OpenCamera(FakeGvCamera::kId);
    ASSERT_EQ(camera->StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    ASSERT_TRUE(catcher.WaitForFrames(5));
    fake.Stop();
    ASSERT_TRUE(WaitFor([&] { return camera->IsCameraLost(); }, std::chrono::seconds(6)));
    const auto start = Clock::now();
    camera.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

} // namespace
} // namespace quillon
