#include "camera/Camera.h"

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
using Messages = std::vector<std::string>;

CameraSettings Settings800x400() {
    CameraSettings s;
    std::tie(s.XOffset, s.YOffset, s.Width, s.Height) = std::make_tuple(624, 568, 800, 400);
    s.Framerate = 50.0f;
    s.Exposure = 5.0f;
    return s;
}

// A CCamera on the simulated camera (two of them) that records its operator messages.
class CameraTest : public ::testing::Test {
protected:
    FrameCatcher catcher; // declared before the camera, so the camera (and its stream) goes first
    Messages messages;
    CCamera camera{std::make_unique<SimCameraApi>(2),
                   [this](const std::string& text) { messages.push_back(text); }};
};

TEST_F(CameraTest, WithoutCameraEverythingFailsQuietly) {
    CameraSettings s = Settings800x400();
    std::vector<uint8_t> raw(64, 0), rgb(192, 0);
    EXPECT_FALSE(camera.ReadFormat(s) || camera.ApplySettings(s) || camera.FillFirstRunSettings(s));
    EXPECT_FALSE(camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, kPixelFormatBayerRggb8));
    EXPECT_EQ(camera.FrameRateCount(), 0u);
    EXPECT_EQ(std::make_pair(camera.MaxWidth(), camera.MaxHeight()), std::make_pair(0.f, 0.f));
    EXPECT_EQ(camera.SerialNumberText(), "");
    EXPECT_FALSE(camera.StartStreaming() || camera.CloseCamera() || camera.IsBusy());
    EXPECT_EQ(std::tie(s.XOffset, s.Exposure), std::make_tuple(624u, 5.0f));
    EXPECT_TRUE(messages.empty());
}

// The format goes to the camera and reads back; frames come in its size with first bytes that
// never repeat; a format or exposure the camera refuses is reported and the stream goes on.
TEST_F(CameraTest, StreamsInTheAppliedFormatAndReportsWhatTheCameraRefuses) {
    ASSERT_EQ(camera.StartCamera(nullptr, nullptr), CameraStartResult::kClosedAgain);
    EXPECT_EQ(messages, Messages{kMsgUnableToAddCallback});
    messages.clear();

    ASSERT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    CameraSettings s = Settings800x400();
    s.Framerate = 500.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    CameraSettings read;
    ASSERT_TRUE(camera.ReadFormat(read));
    EXPECT_EQ(std::tie(read.XOffset, read.YOffset, read.Width, read.Height, read.PixelFormat),
              std::make_tuple(624u, 568u, 800u, 400u, kPixelFormatBayerRggb8));
    EXPECT_EQ(std::tie(read.Framerate, read.Exposure), std::make_tuple(500.0f, 5.0f));
    catcher.expectedLength = 800 * 400;
    ASSERT_TRUE(catcher.WaitForFrames(50));

    s.Width = 4000; // wider than the sensor
    s.Exposure = 0.0f;
    EXPECT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(messages, (Messages{kMsgUnableToSetFormat, kMsgUnableToSetExposure}));
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(800u, 5.0f)) << "as it was";
    ASSERT_TRUE(catcher.WaitForFrames(3)) << "still streaming";

    std::tie(s.Width, s.Height, s.Exposure) = std::make_tuple(640, 480, 5.0f);
    ASSERT_TRUE(camera.ApplySettings(s));
    catcher.expectedLength = 640 * 480;
    ASSERT_TRUE(catcher.WaitForFrames(50));
    ASSERT_TRUE(camera.StopStreaming());
    EXPECT_EQ(catcher.wrongLengths + catcher.repeatedMarkers, 0u);
    EXPECT_FALSE(camera.IsBusy());
}

// The camera's own snapping is the simulated camera's (SimCameraTest) and the listed rates
// reach the operator through the properties dialog (DialogsTest); a zero rate is CCamera's.
TEST_F(CameraTest, ZeroRateGoesOutAsTheLowestWhileTheRecordKeepsItsValueUntilRead) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s = Settings800x400();
    s.Framerate = 0.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(s.Framerate, 0.0f);
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(s.Framerate, 3.75f);
}

TEST_F(CameraTest, FirstRunCentresAn800x400RegionAt10Ms) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s;
    s.Framerate = 4.0f;
    s.Gain = 1234;
    ASSERT_TRUE(camera.FillFirstRunSettings(s));
    EXPECT_EQ(std::tie(s.XOffset, s.YOffset, s.Width, s.Height, s.Exposure),
              std::make_tuple(624u, 568u, 800u, 400u, 10.0f));
    EXPECT_EQ(s.Framerate, 25.0f) << "taken from the camera";
    EXPECT_EQ(s.Gain, 1234u) << "gains keep their values";
    ASSERT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(camera.SerialNumberText(), "21000512") << "of two cameras, camera one";
    EXPECT_TRUE(camera.CloseCamera());
    EXPECT_FALSE(camera.HasCamera());
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
    std::tie(s.Gain, s.RedGain, s.GreenGain1, s.GreenGain2, s.BlueGain) =
        std::make_tuple(1000, 2500, 3875, 1001, 7333);
    ASSERT_TRUE(camera.ApplySettings(s));
    int32_t gain = -1, red = -1, green1 = -1, green2 = -1, blue = -1;
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, green1, green2, blue),
              std::make_tuple(1000, 2500, 3875, 1001, 7333));
    ICameraApi& api = camera.Api();
    // Every whole thousandth reads back as itself; fractions truncate.
    for (uint32_t thousandths = 250; thousandths <= 7750; ++thousandths) {
        ASSERT_TRUE(api.SetProperty(camera.Handle(), kPropGain, float(thousandths / 1000.0), 0));
        camera.ReadGains(gain, red, green1, green2, blue);
        ASSERT_EQ(gain, int32_t(thousandths));
    }
    ASSERT_TRUE(api.SetProperty(camera.Handle(), kPropGain, 3.8757f, 0));
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(gain, 3875);
}

TEST_F(CameraTest, ConvertsWithTheBilinearDemosaicAndVendorPageTakesBackOnlyTheExposure) {
    ASSERT_TRUE(camera.OpenCamera());
    std::mt19937 rng(5);
    std::vector<uint8_t> raw(96 * 10);
    for (uint8_t& v : raw)
        v = uint8_t(rng());
    std::vector<uint8_t> rgb(raw.size() * 3), expected(raw.size() * 3);
    ASSERT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 96, 10, kPixelFormatBayerRggb8));
    ASSERT_TRUE(DemosaicRggbToBgr24(raw.data(), 96, 10, expected.data()));
    EXPECT_EQ(rgb, expected);
    ASSERT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 96, 10, kPixelFormatMono8));
    EXPECT_EQ(rgb[3 * 17 + 2], raw[17]);

    ASSERT_TRUE(camera.Api().SetProperty(camera.Handle(), kPropExposure, 7.5f, 0));
    CameraSettings s;
    s.Width = 123;
    camera.ShowVendorPropertyPage(nullptr, s);
    EXPECT_EQ(std::tie(s.Exposure, s.Width), std::make_tuple(7.5f, 123u));
}

// The buttons a move enables (+), disables (-) or leaves alone (.): left, right, up, down.
std::string Shown(const RegionButtons& b) {
    std::string text;
    for (const std::optional<bool>& button : {b.left, b.right, b.up, b.down})
        text += !button ? '.' : *button ? '+' : '-';
    return text;
}

TEST_F(CameraTest, PositionButtonsMoveCentreAndReportTheirEdges) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s = Settings800x400();
    std::tie(s.XOffset, s.YOffset) = std::make_tuple(0, 8);
    ASSERT_TRUE(camera.ApplySettings(s));
    const auto move = [&](RegionMove m, uint32_t x, uint32_t y, const char* buttons) {
        const auto shown = camera.MoveRegion(m, s);
        ASSERT_TRUE(shown) << int(m);
        EXPECT_EQ(std::tie(s.XOffset, s.YOffset), std::make_tuple(x, y)) << int(m);
        EXPECT_EQ(Shown(*shown), buttons) << int(m);
    };
    move(RegionMove::kLeft, 0, 8, "-+.."); // at the edge the settings are applied all the same
    move(RegionMove::kUp, 0, 0, "..-+");
    move(RegionMove::kDown, 0, 8, "..+."); // far from the bottom
    move(RegionMove::kCentre, 624, 568, "++++");
    s.XOffset = 1240;
    ASSERT_TRUE(camera.ApplySettings(s));
    move(RegionMove::kRight, 1248, 568, "+-.."); // flush with the right edge: 1248 + 800 > 2047
    // One more step does not fit: the camera refuses the format, the region stays.
    move(RegionMove::kRight, 1248, 568, "+-..");
    EXPECT_EQ(messages, Messages{kMsgUnableToSetFormat});

    std::tie(s.XOffset, s.YOffset) = std::make_tuple(4, 6);
    ShiftRegion(RegionMove::kLeft, 2048.0f, 1536.0f, s);
    ShiftRegion(RegionMove::kUp, 2048.0f, 1536.0f, s);
    EXPECT_EQ(std::tie(s.XOffset, s.YOffset), std::make_tuple(0u, 0u)) << "stop at 0, no wrap";
}

TEST(CameraOptionTest, ParsesTheOptionAndOpensSimOrReportsAMissingRealCamera) {
    EXPECT_EQ(ParseCameraOption("sim")->backend, CameraBackend::kSim);
    EXPECT_EQ(ParseCameraOption("")->backend, CameraBackend::kAravis);
    EXPECT_EQ(ParseCameraOption("aravis")->deviceId, "");
    const auto withId = ParseCameraOption("aravis:Fake_1");
    ASSERT_TRUE(withId);
    EXPECT_EQ(withId->backend, CameraBackend::kAravis);
    EXPECT_EQ(withId->deviceId, "Fake_1");
    for (const char* refused : {"aravis:", "Sim", "usb"})
        EXPECT_FALSE(ParseCameraOption(refused)) << refused;
    EXPECT_EQ(CreateCameraApi("usb"), nullptr);

    Messages messages;
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
    EXPECT_EQ(messages, Messages(2, kMsgUnableToConnect));
}

} // namespace
} // namespace quillon
