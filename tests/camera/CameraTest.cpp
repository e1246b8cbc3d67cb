#include "camera/Camera.h"

#include "camera/AravisCameraApi.h"
#include "camera/BayerConversion.h"
#include "camera/CameraApiFactory.h"
#include "camera/SimCameraApi.h"

#include "FrameCatcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

using testing::FrameCatcher;

// A CCamera on the simulated camera that records its operator messages.
class CameraTest : public ::testing::Test {
protected:
    CameraTest()
        : camera(std::make_unique<SimCameraApi>(2),
                 [this](const std::string& text) { messages.push_back(text); }) {}

    CameraSettings Settings800x400() {
        CameraSettings s;
        s.XOffset = 624;
        s.YOffset = 568;
        s.Width = 800;
        s.Height = 400;
        s.Framerate = 50.0f;
        s.Exposure = 5.0f;
        return s;
    }

    // Declared before the camera, so the camera (and its stream) goes first.
    FrameCatcher catcher;
    std::vector<std::string> messages;
    CCamera camera;
};

// Of two cameras, camera one is taken.
TEST_F(CameraTest, OpensTheFirstCameraAndAsksForDistinctFirstBytes) {
    ASSERT_TRUE(camera.OpenCamera());
    EXPECT_TRUE(camera.HasCamera());
    float value = -1;
    uint32_t flags = 0;
    ASSERT_TRUE(camera.Api().GetProperty(camera.Handle(), kPropDistinctFirstBytes, value, flags));
    EXPECT_EQ(flags, kFlagDistinctFirstBytes);
    EXPECT_EQ(value, 0.0f);
    EXPECT_EQ(camera.SerialNumberText(), "21000512");
    EXPECT_EQ(camera.MaxWidth(), 2048.0f);
    EXPECT_EQ(camera.MaxHeight(), 1536.0f);
    EXPECT_TRUE(camera.CloseCamera());
    EXPECT_FALSE(camera.HasCamera());
    EXPECT_TRUE(messages.empty());
}

TEST_F(CameraTest, WithoutCameraEverythingFailsQuietly) {
    CameraSettings s = Settings800x400();
    const CameraSettings before = s;
    std::vector<uint8_t> raw(64, 0), rgb(192, 0);
    EXPECT_FALSE(camera.ReadFormat(s));
    EXPECT_FALSE(camera.ApplySettings(s));
    EXPECT_FALSE(camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, kPixelFormatBayerRggb8));
    EXPECT_EQ(camera.FrameRateCount(), 0u);
    EXPECT_EQ(camera.MaxWidth(), 0.0f);
    EXPECT_EQ(camera.MaxHeight(), 0.0f);
    EXPECT_EQ(camera.SerialNumberText(), "");
    EXPECT_FALSE(camera.FillFirstRunSettings(s));
    EXPECT_FALSE(camera.StartStreaming());
    EXPECT_FALSE(camera.CloseCamera());
    EXPECT_EQ(s.XOffset, before.XOffset);
    EXPECT_EQ(s.Exposure, before.Exposure);
    EXPECT_FALSE(camera.IsBusy());
    EXPECT_TRUE(messages.empty());
}

TEST_F(CameraTest, FormatRoundTripsThroughApplyAndRead) {
    ASSERT_EQ(camera.StartCamera(nullptr, nullptr), CameraStartResult::kClosedAgain)
        << "a null callback is refused";
    EXPECT_EQ(messages, std::vector<std::string>{kMsgUnableToAddCallback});
    messages.clear();

    ASSERT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    const CameraSettings wanted = Settings800x400();
    ASSERT_TRUE(camera.ApplySettings(wanted));
    CameraSettings read;
    ASSERT_TRUE(camera.ReadFormat(read));
    EXPECT_EQ(read.XOffset, 624u);
    EXPECT_EQ(read.YOffset, 568u);
    EXPECT_EQ(read.Width, 800u);
    EXPECT_EQ(read.Height, 400u);
    EXPECT_EQ(read.PixelFormat, kPixelFormatBayerRggb8);
    EXPECT_EQ(read.Framerate, 50.0f);
    EXPECT_EQ(read.Exposure, 5.0f);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(camera.IsBusy());
}

TEST_F(CameraTest, ListedRatesAndRequestsThatSnapToThemWhileTheRecordKeepsItsValueUntilRead) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s = Settings800x400();
    // The snapping itself is the simulated camera's (SimCameraTest); a zero rate is not.
    const std::pair<float, float> cases[] = {{16.0f, 15.0f}, {0.0f, 3.75f}};
    for (const auto& [requested, used] : cases) {
        s.Framerate = requested;
        ASSERT_TRUE(camera.ApplySettings(s));
        EXPECT_EQ(s.Framerate, requested);
        ASSERT_TRUE(camera.ReadFormat(s));
        EXPECT_EQ(s.Framerate, used) << "requested " << requested;
    }
    ASSERT_EQ(camera.FrameRateCount(), 10u);
    std::vector<float> rates(camera.FrameRateCount());
    camera.ListFrameRates(rates);
    EXPECT_EQ(rates.front(), 3.75f);
    EXPECT_EQ(rates[4], 29.97f);
    EXPECT_EQ(rates.back(), 500.0f);
}

TEST_F(CameraTest, FirstRunCentresAn800x400RegionAt10Ms) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s;
    s.Framerate = 4.0f;
    s.Gain = 1234;
    ASSERT_TRUE(camera.FillFirstRunSettings(s));
    EXPECT_EQ(s.XOffset, 624u);
    EXPECT_EQ(s.YOffset, 568u);
    EXPECT_EQ(s.Width, 800u);
    EXPECT_EQ(s.Height, 400u);
    EXPECT_EQ(s.Exposure, 10.0f);
    EXPECT_EQ(s.Framerate, 25.0f) << "taken from the camera";
    EXPECT_EQ(s.Gain, 1234u) << "gains keep their values";
    ASSERT_TRUE(camera.ApplySettings(s));
    EXPECT_TRUE(messages.empty());
}

TEST(CentredOffsetTest, HalvesTheSpareRoomInStepsOfEight) {
    // 2048.9: the sensor size is truncated; 4000: larger than the sensor; 0: no camera.
    const std::tuple<float, uint32_t, uint32_t> cases[] = {
        {2048.0f, 800, 624}, {1536.0f, 400, 568}, {1280.0f, 800, 240},
        {1024.0f, 400, 312}, {2048.9f, 2048, 0},  {2048.0f, 2040, 0},
        {2048.0f, 2032, 8},  {2048.0f, 4000, 0},  {0.0f, 800, 0}};
    for (const auto& [sensor, region, offset] : cases)
        EXPECT_EQ(CentredOffset(sensor, region), offset) << sensor << " " << region;
}

TEST_F(CameraTest, GainsTravelInThousandthsAndReadBackExactly) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s = Settings800x400();
    s.Gain = 1000;
    s.RedGain = 2500;
    s.GreenGain1 = 3875;
    s.GreenGain2 = 1001;
    s.BlueGain = 7333;
    ASSERT_TRUE(camera.ApplySettings(s));
    int32_t gain = -1, red = -1, green1 = -1, green2 = -1, blue = -1;
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(gain, 1000);
    EXPECT_EQ(red, 2500);
    EXPECT_EQ(green1, 3875);
    EXPECT_EQ(green2, 1001);
    EXPECT_EQ(blue, 7333);
    float factor = 0;
    uint32_t flags = 0;
    ICameraApi& api = camera.Api();
    ASSERT_TRUE(api.GetProperty(camera.Handle(), kPropGainRed, factor, flags));
    EXPECT_EQ(factor, 2.5f);
    // Every whole thousandth reads back as itself; fractions truncate.
    for (uint32_t thousandths = 250; thousandths <= 7750; ++thousandths) {
        ASSERT_TRUE(api.SetProperty(camera.Handle(), kPropGain,
                                    static_cast<float>(thousandths / 1000.0), 0));
        camera.ReadGains(gain, red, green1, green2, blue);
        ASSERT_EQ(gain, static_cast<int32_t>(thousandths));
    }
    ASSERT_TRUE(api.SetProperty(camera.Handle(), kPropGain, 3.8757f, 0));
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(gain, 3875);
}

TEST_F(CameraTest, RefusedFormatAndExposureAreReportedButStreamingGoesOn) {
    ASSERT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    ASSERT_TRUE(camera.ApplySettings(Settings800x400()));

    CameraSettings s = Settings800x400();
    s.Width = 4000; // wider than the sensor
    s.Exposure = 0.0f;
    EXPECT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(messages, (std::vector<std::string>{kMsgUnableToSetFormat, kMsgUnableToSetExposure}));
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(s.Width, 800u) << "the camera keeps what it had";
    EXPECT_EQ(s.Exposure, 5.0f);
    catcher.ExpectLength(800 * 400);
    EXPECT_TRUE(catcher.WaitForFrames(3)) << "still streaming";
}

TEST_F(CameraTest, ConvertsWithTheBilinearDemosaic) {
    ASSERT_TRUE(camera.OpenCamera());
    std::mt19937 rng(5);
    std::vector<uint8_t> raw(96 * 10);
    for (uint8_t& v : raw) {
        v = uint8_t(rng());
    }
    std::vector<uint8_t> rgb(raw.size() * 3), expected(raw.size() * 3);
    ASSERT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 96, 10, kPixelFormatBayerRggb8));
    ASSERT_TRUE(DemosaicRggbToBgr24(raw.data(), 96, 10, expected.data()));
    EXPECT_EQ(rgb, expected);
    ASSERT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 96, 10, kPixelFormatMono8));
    EXPECT_EQ(rgb[3 * 17 + 2], raw[17]);
    EXPECT_FALSE(camera.IsBusy());
}

TEST_F(CameraTest, VendorPageTakesBackOnlyTheExposure) {
    ASSERT_TRUE(camera.OpenCamera());
    ASSERT_TRUE(camera.Api().SetProperty(camera.Handle(), kPropExposure, 7.5f, 0));
    CameraSettings s;
    s.Width = 123;
    camera.ShowVendorPropertyPage(nullptr, s);
    EXPECT_EQ(s.Exposure, 7.5f);
    EXPECT_EQ(s.Width, 123u);
}

TEST_F(CameraTest, PositionButtonsMoveCentreAndReportTheirEdges) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s = Settings800x400();
    s.XOffset = 0;
    s.YOffset = 8;
    ASSERT_TRUE(camera.ApplySettings(s));

    auto left = camera.MoveRegion(RegionMove::kLeft, s);
    ASSERT_TRUE(left);
    EXPECT_EQ(s.XOffset, 0u) << "at the edge the offset stays but the settings are applied";
    EXPECT_EQ(left->left, false);
    EXPECT_EQ(left->right, true);
    EXPECT_FALSE(left->up.has_value());

    auto up = camera.MoveRegion(RegionMove::kUp, s);
    ASSERT_TRUE(up);
    EXPECT_EQ(s.YOffset, 0u);
    EXPECT_EQ(up->up, false);
    EXPECT_EQ(up->down, true);

    auto down = camera.MoveRegion(RegionMove::kDown, s);
    ASSERT_TRUE(down);
    EXPECT_EQ(s.YOffset, 8u);
    EXPECT_FALSE(down->down.has_value()) << "far from the bottom";

    auto centre = camera.MoveRegion(RegionMove::kCentre, s);
    ASSERT_TRUE(centre);
    EXPECT_EQ(s.XOffset, 624u);
    EXPECT_EQ(s.YOffset, 568u);
    EXPECT_EQ(centre->left, true);
    EXPECT_EQ(centre->right, true);
    EXPECT_EQ(centre->up, true);
    EXPECT_EQ(centre->down, true);

    // Flush with the right edge: 1248 + 800 = 2048 > 2047.
    s.XOffset = 1240;
    ASSERT_TRUE(camera.ApplySettings(s));
    auto right = camera.MoveRegion(RegionMove::kRight, s);
    ASSERT_TRUE(right);
    EXPECT_EQ(s.XOffset, 1248u);
    EXPECT_EQ(right->right, false);
    EXPECT_EQ(right->left, true);

    // One more step does not fit: the camera refuses the format, the region stays.
    right = camera.MoveRegion(RegionMove::kRight, s);
    ASSERT_TRUE(right);
    EXPECT_EQ(s.XOffset, 1248u);
    EXPECT_EQ(messages, std::vector<std::string>{kMsgUnableToSetFormat});
}

TEST(RegionRulesTest, LeftAndUpStopAtZeroInsteadOfWrapping) {
    CameraSettings s;
    s.XOffset = 4;
    s.YOffset = 6;
    ShiftRegion(RegionMove::kLeft, 2048.0f, 1536.0f, s);
    ShiftRegion(RegionMove::kUp, 2048.0f, 1536.0f, s);
    EXPECT_EQ(s.XOffset, 0u);
    EXPECT_EQ(s.YOffset, 0u);
}

TEST_F(CameraTest, StreamsFramesOfRegionSizeWhoseFirstBytesNeverRepeat) {
    ASSERT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    CameraSettings s = Settings800x400();
    s.Framerate = 500.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    catcher.ExpectLength(800 * 400);
    ASSERT_TRUE(catcher.WaitForFrames(50));
    s.Width = 640;
    s.Height = 480;
    ASSERT_TRUE(camera.ApplySettings(s));
    catcher.ExpectLength(640 * 480);
    ASSERT_TRUE(catcher.WaitForFrames(50));
    ASSERT_TRUE(camera.StopStreaming());
    EXPECT_EQ(catcher.WrongLengths(), 0u);
    EXPECT_EQ(catcher.RepeatedMarkers(), 0u);
}

TEST(CameraOptionTest, ParsesTheCameraOption) {
    EXPECT_EQ(ParseCameraOption("sim")->backend, CameraBackend::kSim);
    EXPECT_EQ(ParseCameraOption("")->backend, CameraBackend::kAravis);
    EXPECT_EQ(ParseCameraOption("aravis")->deviceId, "");
    const auto withId = ParseCameraOption("aravis:Fake_1");
    ASSERT_TRUE(withId);
    EXPECT_EQ(withId->backend, CameraBackend::kAravis);
    EXPECT_EQ(withId->deviceId, "Fake_1");
    EXPECT_FALSE(ParseCameraOption("aravis:"));
    EXPECT_FALSE(ParseCameraOption("Sim"));
    EXPECT_FALSE(ParseCameraOption("usb"));
    EXPECT_EQ(CreateCameraApi("usb"), nullptr);
}

TEST(CameraOptionTest, SimOpensAndRealCameraMissingEndsWithTheMessage) {
    std::vector<std::string> messages;
    auto sink = [&](const std::string& text) { messages.push_back(text); };
    FrameCatcher catcher;

    CCamera sim(CreateCameraApi("sim"), sink);
    EXPECT_EQ(sim.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);

    // Only ids that name no camera: a fake network camera may be running beside this test.
    for (const char* option : {"aravis:no-such-camera", "aravis:Fake_1"}) {
        CCamera real(CreateCameraApi(option), sink);
        EXPECT_EQ(real.StartCamera(catcher.Function(), catcher.Context()),
                  CameraStartResult::kNotConnected)
            << option;
    }
    EXPECT_EQ(messages, std::vector<std::string>(2, kMsgUnableToConnect));
}

} // namespace
} // namespace quillon
