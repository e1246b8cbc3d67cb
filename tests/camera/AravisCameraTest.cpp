// The Aravis backend against Aravis's fake GigE Vision camera, a separate process on 127.0.0.1
// that each test starts and kills itself.
#include "camera/AravisCameraApi.h"
#include "camera/Camera.h"

#include "FrameCatcher.h"
#include "common/FakeGvCamera.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillon {
namespace {

using testing::FakeGvCamera;
using testing::FrameCatcher;

// 800 x 400 centred on the 2048 x 2048 sensor.
CameraSettings Centred(float rate) {
    return {624, 824, 800, 400, kPixelFormatBayerRggb8, 1.5f, rate}; // region, format, ms, fps
}

class AravisCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLON_SKIP_WITHOUT_FAKE_GV_CAMERA();
        ASSERT_TRUE(fake.Start()) << "the fake camera did not come up";
    }

    std::unique_ptr<CCamera> Camera(const std::string& id = FakeGvCamera::kId) {
        return std::make_unique<CCamera>(
            std::make_unique<AravisCameraApi>(id),
            [this](const std::string& text) { messages.push_back(text); });
    }
    // The camera streaming into `frames` with `settings`.
    std::unique_ptr<CCamera> Streaming(const CameraSettings& settings, FrameCatcher& frames) {
        auto camera = Camera();
        EXPECT_EQ(camera->StartCamera(frames.Function(), frames.Context()),
                  CameraStartResult::kStreaming);
        EXPECT_TRUE(camera->ApplySettings(settings));
        frames.expectedLength = settings.Width * settings.Height;
        return camera;
    }

    FakeGvCamera fake;
    FrameCatcher catcher; // before the cameras, so that it outlives their streams
    std::vector<std::string> messages;
};

// The camera's listing is the program's (AravisProgramTest lists it).
TEST_F(AravisCameraTest, OpensTheCameraFirstOrByIdAndMapsItsFeatures) {
    for (const std::string id : {"", FakeGvCamera::kAddress, FakeGvCamera::kId}) {
        auto camera = Camera(id);
        ASSERT_TRUE(camera->OpenCamera()) << "id '" << id << "'";
        EXPECT_EQ(camera->SerialNumberText(), FakeGvCamera::kSerial) << id;
        EXPECT_EQ(std::make_pair(camera->MaxWidth(), camera->MaxHeight()),
                  std::make_pair(2048.0f, 2048.0f));
        EXPECT_TRUE(camera->CloseCamera());
    }
    EXPECT_FALSE(Camera("Aravis-Fake-GV99")->OpenCamera());

    auto camera = Camera();
    ASSERT_TRUE(camera->OpenCamera());
    CameraSettings tooLarge = Centred(5000.0f);
    std::tie(tooLarge.Width, tooLarge.XOffset) = std::make_tuple(3000, 600);
    // The second is clamped to the sensor and the camera's highest rate; the offset follows
    // the width.
    const std::tuple<CameraSettings, uint32_t, uint32_t, float> cases[] = {
        {Centred(200.0f), 624, 800, 200.0f}, {tooLarge, 0, 2048, 1000.0f}};
    for (const auto& [wanted, x, width, rate] : cases) {
        ASSERT_TRUE(camera->ApplySettings(wanted));
        CameraSettings read;
        ASSERT_TRUE(camera->ReadFormat(read));
        // The exposure went out as 1500 us ExposureTimeAbs.
        EXPECT_EQ(std::tie(read.XOffset, read.YOffset, read.Width, read.Height, read.PixelFormat,
                           read.Framerate, read.Exposure),
                  std::make_tuple(x, 824u, width, 400u, kPixelFormatBayerRggb8, rate, 1.5f));
    }
    EXPECT_TRUE(messages.empty());

    // The fake has only GainRaw 0..10, taken as the factor itself, and no colour gains of its
    // own: those stay with the backend's conversion and read back as set.
    int32_t gain = 0, red = 0, green1 = 0, green2 = 0, blue = 0;
    camera->ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, blue), std::make_tuple(4000, 3875, 3875));
    std::vector<float> rates(camera->FrameRateCount());
    camera->ListFrameRates(rates);
    EXPECT_EQ(rates, (std::vector<float>{3.75f, 7.5f, 15.0f, 25.0f, 29.97f, 50.0f, 60.0f, 100.0f,
                                         200.0f, 500.0f, 1000.0f}));
}

// Whole frames only, with distinct first bytes that carry the frame id: every jump is a frame
// the backend counted as lost. With packets missing (the fake camera resends nothing) many
// frames arrive with holes; each counts as lost and none is handed on, and the camera is not
// taken for lost. Nothing comes after the stream has stopped.
TEST_F(AravisCameraTest, StreamsWholeFramesAndCountsIncompleteOnesAsLost) {
    ASSERT_TRUE(fake.Start(2)); // of every thousand packets
    auto camera = Streaming(Centred(100.0f), catcher);
    ASSERT_TRUE(catcher.WaitForFrames(50));
    EXPECT_FALSE(camera->IsCameraLost());
    EXPECT_TRUE(camera->StopStreaming());
    catcher.sealed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(catcher.wrongLengths + catcher.repeatedMarkers + catcher.lateCalls, 0u);
    EXPECT_LE(catcher.counterJumps, camera->LostFrames());
    EXPECT_GT(camera->LostFrames(), 0u);
}

// The fake camera has no white balance of its own: a grey-world balance from the next frame
// goes into the backend's colour gains, after which the frame's colour means agree.
TEST_F(AravisCameraTest, OneShotWhiteBalanceMakesTheFrameGrey) {
    CameraSettings settings = Centred(25.0f);
    settings.RedGain = 8000; // far off balance
    auto camera = Streaming(settings, catcher);
    ASSERT_TRUE(catcher.WaitForFrames(3));
    const auto channelSpread = [&] {
        const std::vector<uint8_t> raw = catcher.LastFrame();
        std::vector<uint8_t> bgr(800 * 400 * 3);
        EXPECT_TRUE(camera->ConvertToRgb24(bgr.data(), raw.data(), 800, 400, 0));
        double sums[3] = {};
        for (size_t i = 0; i < bgr.size(); ++i)
            sums[i % 3] += bgr[i];
        return *std::max_element(sums, sums + 3) / std::max(*std::min_element(sums, sums + 3), 1.0);
    };
    EXPECT_GT(channelSpread(), 1.5);
    ASSERT_TRUE(camera->Api().OneShotAutoWhiteBalance(camera->Handle(), 0, 0, 800, 400));
    int32_t gain = 0, red = 8000, green1 = 0, green2 = 0, blue = 0;
    for (int i = 0; i < 60 && red == 8000; ++i) { // the balance comes with the next frame
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        camera->ReadGains(gain, red, green1, green2, blue);
    }
    ASSERT_NE(red, 8000);
    ASSERT_TRUE(catcher.WaitForFrames(2));
    EXPECT_LT(channelSpread(), 1.05);
}

} // namespace
} // namespace quillon
