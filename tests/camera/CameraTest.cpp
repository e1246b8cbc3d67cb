#include "camera/Camera.h"

#include "camera/CameraApiFactory.h"
#include "camera/SimCameraApi.h"

#include "FrameCatcher.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace quillon {
namespace {

using testing::FrameCatcher;
using Messages = std::vector<std::string>;
using Calls = std::vector<std::string>;

// Region, pixel format, exposure and rate in the order the settings list them; then the gains.
CameraSettings Settings800x400() {
    CameraSettings s{624, 568, 800, 400, kPixelFormatBayerRggb8, 4.0f, 50.0f};
    std::tie(s.Gain, s.RedGain, s.GreenGain1, s.GreenGain2, s.BlueGain) =
        std::make_tuple(1500, 1100, 1200, 1300, 1400);
    return s;
}

using H = CameraHandle; // short, so that most pass-throughs below fit on a line

// The simulated camera's API with its calls written down in order ("SetProperty 20 4 0": the
// call and its arguments), any of which can be made to fail without reaching the camera.
class ObservedSimApi : public ICameraApi {
public:
    int32_t NumCameras() override { return Pass("NumCameras") ? sim.NumCameras() : 0; }
    H CameraOpen(uint32_t n) override { return Pass("CameraOpen", n) ? sim.CameraOpen(n) : 0; }
    bool CameraClose(H h) override { return Pass("CameraClose") && sim.CameraClose(h); }
    bool SetProperty(H h, uint32_t p, float v, uint32_t f) override {
        return Pass("SetProperty", p, v, f) && sim.SetProperty(h, p, v, f);
    }
    bool GetProperty(H h, uint32_t p, float& v, uint32_t& f) override {
        return Pass("GetProperty", p) && sim.GetProperty(h, p, v, f);
    }
    bool GetFormat(H h, FrameFormat& f, float& r) override {
        return Pass("GetFormat") && sim.GetFormat(h, f, r);
    }
    bool SetFormat(H h, const FrameFormat& f, float r) override {
        return Pass("SetFormat", f.xOffset, f.yOffset, f.width, f.height, f.flagsX, f.flagsY, r) &&
               sim.SetFormat(h, f, r);
    }
    bool StreamVideoControl(H h, StreamMode m) override {
        return Pass(m == StreamMode::kStart ? "Start" : "Stop") && sim.StreamVideoControl(h, m);
    }
    int32_t AddStreamingCallback(H h, StreamingCallback c, void* x) override {
        return Pass("AddStreamingCallback") ? sim.AddStreamingCallback(h, c, x) : kNoCallbackId;
    }
    bool RemoveStreamingCallback(H h, int i) override { return sim.RemoveStreamingCallback(h, i); }
    bool ConvertFrameToRgb24(H h, uint8_t* dest, const uint8_t* source, uint32_t w, uint32_t height,
                             uint32_t format, const ConversionParams& p) override {
        return Pass("Convert", w, height, format, p.demosaicMethod, p.correctionMatrix) &&
               sim.ConvertFrameToRgb24(h, dest, source, w, height, format, p);
    }
    uint32_t EnumAvailableFrameRates(H h, uint32_t n, float* r) override {
        return sim.EnumAvailableFrameRates(h, n, r);
    }
    bool QueryVersion(H h, VersionInfo& v) override { return sim.QueryVersion(h, v); }
    bool OneShotAutoWhiteBalance(H h, uint32_t x, uint32_t y, uint32_t w, uint32_t hh) override {
        return sim.OneShotAutoWhiteBalance(h, x, y, w, hh);
    }
    bool DisplayPropertyPage(H h, void* p) override { return sim.DisplayPropertyPage(h, p); }
    bool GpoSelect(H h, uint8_t m) override { return Pass("GpoSelect", +m) && sim.GpoSelect(h, m); }
    bool GpioWrite(H h, uint8_t v) override { return Pass("GpioWrite", +v) && sim.GpioWrite(h, v); }

    // From now on `call` (as written down) fails; the calls so far are forgotten.
    void FailOnly(const std::string& call) {
        failing = {call};
        calls.clear();
    }

    SimCameraApi sim{2};
    Calls calls;
    std::set<std::string> failing; // calls as written down

private:
    template <class... Args> bool Pass(const char* name, const Args&... args) {
        std::ostringstream call;
        call << name;
        ((call << ' ' << args), ...);
        calls.push_back(call.str());
        return !failing.count(calls.back());
    }
};

// A CCamera on the observed simulated camera (two of them) that records its operator messages.
class CameraTest : public ::testing::Test {
protected:
    FrameCatcher catcher; // declared before the camera, so the camera (and its stream) goes first
    Messages messages;
    ObservedSimApi* api = new ObservedSimApi; // the camera owns it
    CCamera camera{std::unique_ptr<ICameraApi>(api),
                   [this](const std::string& text) { messages.push_back(text); }};
};

// The format goes to the camera and reads back; a format or exposure the camera refuses is
// reported and the stream goes on in the format it had.
// While the message is out (a message box runs an event loop, letting the frame handler in)
// the camera is busy and refuses conversions and other settings. The position buttons move
// the region in steps of 8 and grey out at the edges they reach.
TEST_F(CameraTest, StreamsInTheAppliedFormatReportsRefusalsAndMovesTheRegionInStepsOf8) {
    ASSERT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    CameraSettings s = Settings800x400();
    s.Framerate = 500.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    s = {};
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.XOffset, s.YOffset, s.Width, s.Height, s.PixelFormat),
              std::make_tuple(624u, 568u, 800u, 400u, kPixelFormatBayerRggb8));
    EXPECT_EQ(std::tie(s.Framerate, s.Exposure), std::make_tuple(500.0f, 4.0f));

    std::vector<uint8_t> raw(64, 1), rgb(192);
    camera.SetMessageSink([&](const std::string& text) {
        messages.push_back(text);
        EXPECT_TRUE(camera.IsBusy());
        EXPECT_FALSE(camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, 0));
        EXPECT_FALSE(camera.ApplySettings(Settings800x400()));
    });
    std::tie(s.Width, s.Exposure) = std::make_tuple(4000, 0.0f); // wider than the sensor; none
    EXPECT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(messages, (Messages{kMsgUnableToSetFormat, kMsgUnableToSetExposure}));
    EXPECT_TRUE(!camera.IsBusy() && camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, 0));
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(800u, 4.0f)) << "as it was";
    catcher.expectedLength = 800 * 400;
    ASSERT_TRUE(catcher.WaitForFrames(3)) << "still streaming";
    EXPECT_EQ(catcher.wrongLengths, 0u);

    std::tie(s.XOffset, s.YOffset) = std::make_tuple(0, 8);
    ASSERT_TRUE(camera.ApplySettings(s));

    // The buttons a move enables (+), disables (-) or leaves alone (.): left, right, up, down.
    const auto move = [&](RegionMove m, uint32_t x, uint32_t y, std::string buttons) {
        const std::optional<RegionButtons> b = camera.MoveRegion(m, s);
        ASSERT_TRUE(b) << int(m);
        std::string shown;
        for (const std::optional<bool>& button : {b->left, b->right, b->up, b->down})
            shown += !button ? '.' : *button ? '+' : '-';
        EXPECT_EQ(std::tie(s.XOffset, s.YOffset, shown), std::tie(x, y, buttons)) << int(m);
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
    EXPECT_EQ(messages.back(), kMsgUnableToSetFormat);

    std::tie(s.XOffset, s.YOffset) = std::make_tuple(4, 6);
    ShiftRegion(RegionMove::kLeft, 2048.0f, 1536.0f, s);
    ShiftRegion(RegionMove::kUp, 2048.0f, 1536.0f, s);
    EXPECT_EQ(std::tie(s.XOffset, s.YOffset), std::make_tuple(0u, 0u)) << "stop at 0, no wrap";
    // Centring halves the spare room in steps of 8: 2048.9, the sensor size is truncated;
    // 4000, larger than the sensor; 0, no camera.
    const std::tuple<float, uint32_t, uint32_t> centred[] = {
        {2048.0f, 800, 624}, {2048.9f, 2048, 0}, {2048.0f, 2040, 0},
        {2048.0f, 2032, 8},  {2048.0f, 4000, 0}, {0.0f, 800, 0}};
    for (const auto& [sensor, region, offset] : centred)
        EXPECT_EQ(CentredOffset(sensor, region), offset) << sensor << " " << region;
}

// Opening asks for camera one, then for distinct first bytes and low outputs. A first run
// centres 800 x 400 at 10 ms and takes the camera's rate, keeping the gains; a zero rate goes
// out as the camera's lowest. Frames convert bilinear in the format given; the vendor's page
// gives back only the exposure.
TEST_F(CameraTest, OpensCameraOneFirstRunCentres800x400At10MsAndConvertsBilinear) {
    ASSERT_TRUE(camera.OpenCamera());
    EXPECT_EQ(api->calls, (Calls{"NumCameras", "CameraOpen 1", "SetProperty 105 0 2147483648",
                                 "GpoSelect 7", "GpioWrite 0"}));
    CameraSettings s; // at 4 fps
    s.Gain = 1234;
    ASSERT_TRUE(camera.FillFirstRunSettings(s));
    EXPECT_EQ(std::tie(s.XOffset, s.YOffset, s.Width, s.Height, s.Exposure),
              std::make_tuple(624u, 568u, 800u, 400u, 10.0f));
    EXPECT_EQ(std::tie(s.Framerate, s.Gain), std::make_tuple(25.0f, 1234u)) << "camera's, kept";
    ASSERT_TRUE(camera.ApplySettings(s));
    float value = -1;
    uint32_t flags = 0;
    ASSERT_TRUE(camera.Api().GetProperty(camera.Handle(), kPropDistinctFirstBytes, value, flags));
    EXPECT_EQ(std::tie(value, flags), std::make_tuple(0.0f, kFlagDistinctFirstBytes));

    s.Framerate = 0.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(s.Framerate, 3.75f);

    // The conversion itself is the library's (RawFrameConversionTest).
    std::vector<uint8_t> raw(96 * 10, 7), rgb(raw.size() * 3);
    api->calls.clear();
    ASSERT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 96, 10, kPixelFormatMono8));
    EXPECT_EQ(api->calls, Calls{"Convert 96 10 1 1 0"}) << "size, format, bilinear, no matrix";
    ASSERT_TRUE(camera.Api().SetProperty(camera.Handle(), kPropExposure, 7.5f, 0));
    s.Width = 123;
    camera.ShowVendorPropertyPage(nullptr, s);
    EXPECT_EQ(std::tie(s.Exposure, s.Width), std::make_tuple(7.5f, 123u));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(camera.CloseCamera());
    EXPECT_FALSE(camera.HasCamera());
}

// Opening each backend is the program's own (the program and camera program tests).
TEST(CameraOptionTest, ParsesTheBackendAndDeviceIdAndRefusesOthers) {
    // value() throws, and so fails the test, where nothing was parsed.
    EXPECT_EQ(ParseCameraOption("sim").value().backend, CameraBackend::kSim);
    EXPECT_EQ(ParseCameraOption("").value().backend, CameraBackend::kAravis);
    EXPECT_EQ(ParseCameraOption("aravis").value().deviceId, "");
    const CameraOption withId = ParseCameraOption("aravis:Fake_1").value();
    EXPECT_EQ(std::tie(withId.backend, withId.deviceId),
              std::make_tuple(CameraBackend::kAravis, "Fake_1"));
    for (const char* refused : {"aravis:", "Sim", "usb"})
        EXPECT_FALSE(ParseCameraOption(refused)) << refused;
    EXPECT_EQ(CreateCameraApi("usb"), nullptr);
}

const Calls kGains{"SetProperty 40 1.5 0", "SetProperty 41 1.1 0", "SetProperty 43 1.2 0",
                   "SetProperty 44 1.3 0", "SetProperty 42 1.4 0"};

Calls operator+(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Each step that fails ends with the camera closed (once open) and its own message.
TEST_F(CameraTest, StartThatFailsAnywhereEndsClosedWithAMessageAndThenEverythingFailsQuietly) {
    using R = CameraStartResult;
    const std::tuple<const char*, R, const char*> cases[] = {
        {"NumCameras", R::kNotConnected, kMsgUnableToConnect},
        {"CameraOpen 1", R::kNotConnected, kMsgUnableToConnect},
        {"AddStreamingCallback", R::kClosedAgain, kMsgUnableToAddCallback},
        {"Start", R::kClosedAgain, kMsgUnableToStartStreaming}};
    for (const auto& [failing, result, message] : cases) {
        SCOPED_TRACE(failing);
        api->FailOnly(failing);
        messages.clear();
        EXPECT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()), result);
        EXPECT_FALSE(camera.HasCamera());
        EXPECT_EQ(messages, Messages{message});
        // Nothing more after the failed call than closing what was opened.
        EXPECT_EQ(api->calls.back(), result == R::kClosedAgain ? "CameraClose" : failing);
        EXPECT_EQ(api->calls.end()[result == R::kClosedAgain ? -2 : -1], failing);
    }
    // Without a camera everything fails quietly and touches no settings.
    messages.clear();
    CameraSettings s = Settings800x400();
    std::vector<uint8_t> raw(64, 0), rgb(192, 0);
    EXPECT_FALSE(camera.ReadFormat(s) || camera.ApplySettings(s) ||
                 camera.FillFirstRunSettings(s) ||
                 camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, kPixelFormatBayerRggb8) ||
                 camera.StartStreaming() || camera.CloseCamera() || camera.IsBusy());
    EXPECT_EQ(std::make_tuple(camera.FrameRateCount(), camera.MaxWidth(), camera.MaxHeight(),
                              camera.SerialNumberText()),
              std::make_tuple(0u, 0.f, 0.f, std::string()));
    EXPECT_EQ(std::tie(s.XOffset, s.Exposure), std::make_tuple(624u, 4.0f));
    EXPECT_TRUE(messages.empty());
}

// Settings go out in order: the stream stops, the format (its subsampling fields passed back
// as the camera reported them) and the exposure go in, the stream restarts, then the gains in
// thousandths.
// A format that cannot be read fails before anything stops; a failed restart fails without
// the gains; neither leaves the camera busy. A stream that will not stop is left alone and
// only the gains go out. A failed move is reported for its button.
TEST_F(CameraTest, ApplySettingsReconfiguresAStoppedStreamGainsReadBackAndFailuresLeaveItReady) {
    ASSERT_TRUE(camera.OpenCamera());
    ASSERT_TRUE(api->sim.SetFormat(camera.Handle(), {0, 0, 2048, 1536, 0, 1, 5, 1, 6}, 25.0f));
    const Calls reconfigure{"GetFormat", "Stop", "SetFormat 624 568 800 400 5 6 50",
                            "SetProperty 20 4 0", "Start"};
    const std::tuple<const char*, bool, Calls> cases[] = {
        {"none", true, reconfigure + kGains},
        {"GetFormat", false, {"GetFormat"}},
        {"Start", false, reconfigure},
        {"Stop", true, Calls{"GetFormat", "Stop"} + kGains}};
    for (const auto& [failing, applied, calls] : cases) {
        SCOPED_TRACE(failing);
        api->FailOnly(failing);
        EXPECT_EQ(camera.ApplySettings(Settings800x400()), applied);
        EXPECT_EQ(api->calls, calls);
        EXPECT_FALSE(camera.IsBusy());
    }
    EXPECT_TRUE(messages.empty());

    // The gains sent read back in thousandths, every whole one as itself, fractions truncated.
    int32_t gain = -1, red = -1, green1 = -1, green2 = -1, blue = -1;
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, green1, green2, blue),
              std::make_tuple(1500, 1100, 1200, 1300, 1400));
    for (uint32_t thousandths = 250; thousandths <= 7750; ++thousandths) {
        ASSERT_TRUE(api->SetProperty(camera.Handle(), kPropGain, float(thousandths / 1000.0), 0));
        camera.ReadGains(gain, red, green1, green2, blue);
        ASSERT_EQ(gain, int32_t(thousandths));
    }
    ASSERT_TRUE(api->SetProperty(camera.Handle(), kPropGain, 3.8757f, 0));
    // A failed read leaves its output as it was; the others are read in order all the same.
    api->FailOnly("GetProperty 41");
    red = -7;
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, blue), std::make_tuple(3875, -7, 1400));
    EXPECT_EQ(api->calls, (Calls{"GetProperty 40", "GetProperty 41", "GetProperty 43",
                                 "GetProperty 44", "GetProperty 42"}));
    api->FailOnly("GetProperty 20");
    CameraSettings s;
    EXPECT_FALSE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(600u, 10.0f)) << "untouched";

    api->FailOnly("Start");
    EXPECT_FALSE(camera.MoveRegion(RegionMove::kLeft, s).has_value());
    EXPECT_EQ(messages, Messages{"Unable to move camera left"});
}

} // namespace
} // namespace quillon
