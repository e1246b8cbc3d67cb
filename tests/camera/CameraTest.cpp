#include "camera/Camera.h"

#include "camera/CameraApiFactory.h"
#include "camera/SimCameraApi.h"

#include "FrameCatcher.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

using testing::FrameCatcher;
using Messages = std::vector<std::string>;
using Calls = std::vector<std::string>;

CameraSettings Settings800x400() {
    CameraSettings s;
    std::tie(s.XOffset, s.YOffset, s.Width, s.Height) = std::make_tuple(624, 568, 800, 400);
    std::tie(s.Framerate, s.Exposure) = std::make_tuple(50.0f, 4.0f);
    std::tie(s.Gain, s.RedGain, s.GreenGain1, s.GreenGain2, s.BlueGain) =
        std::make_tuple(1500, 1100, 1200, 1300, 1400);
    return s;
}

// The simulated camera's API with its calls written down in order ("SetProperty 20 4 0": the
// call and its arguments), any of which can be made to fail without reaching the camera.
class ObservedSimApi : public ICameraApi {
public:
    int32_t NumCameras() override { return Pass("NumCameras") ? sim.NumCameras() : 0; }
    CameraHandle CameraOpen(uint32_t n) override {
        return Pass("CameraOpen", n) ? sim.CameraOpen(n) : kNoCameraHandle;
    }
    bool CameraClose(CameraHandle h) override { return Pass("CameraClose") && sim.CameraClose(h); }
    bool SetProperty(CameraHandle h, uint32_t p, float v, uint32_t f) override {
        return Pass("SetProperty", p, v, f) && sim.SetProperty(h, p, v, f);
    }
    bool GetProperty(CameraHandle h, uint32_t p, float& v, uint32_t& f) override {
        return Pass("GetProperty", p) && sim.GetProperty(h, p, v, f);
    }
    bool GetFormat(CameraHandle h, FrameFormat& f, float& rate) override {
        return Pass("GetFormat") && sim.GetFormat(h, f, rate);
    }
    bool SetFormat(CameraHandle h, const FrameFormat& f, float rate) override {
        return Pass("SetFormat", f.xOffset, f.yOffset, f.width, f.height, f.flagsX, f.flagsY,
                    rate) &&
               sim.SetFormat(h, f, rate);
    }
    bool StreamVideoControl(CameraHandle h, StreamMode mode) override {
        return Pass(mode == StreamMode::kStart ? "Start" : "Stop") &&
               sim.StreamVideoControl(h, mode);
    }
    int32_t AddStreamingCallback(CameraHandle h, StreamingCallback c, void* context) override {
        return Pass("AddStreamingCallback") ? sim.AddStreamingCallback(h, c, context)
                                            : kNoCallbackId;
    }
    bool RemoveStreamingCallback(CameraHandle h, int32_t id) override {
        return sim.RemoveStreamingCallback(h, id);
    }
    bool ConvertFrameToRgb24(CameraHandle h, uint8_t* dest, const uint8_t* source, uint32_t w,
                             uint32_t height, uint32_t format, const ConversionParams& p) override {
        return Pass("Convert", w, height, format, p.demosaicMethod, p.correctionMatrix) &&
               sim.ConvertFrameToRgb24(h, dest, source, w, height, format, p);
    }
    uint32_t EnumAvailableFrameRates(CameraHandle h, uint32_t count, float* rates) override {
        return sim.EnumAvailableFrameRates(h, count, rates);
    }
    bool QueryVersion(CameraHandle h, VersionInfo& v) override { return sim.QueryVersion(h, v); }
    bool OneShotAutoWhiteBalance(CameraHandle h, uint32_t x, uint32_t y, uint32_t w,
                                 uint32_t height) override {
        return sim.OneShotAutoWhiteBalance(h, x, y, w, height);
    }
    bool DisplayPropertyPage(CameraHandle h, void* parent) override {
        return sim.DisplayPropertyPage(h, parent);
    }
    bool GpoSelect(CameraHandle h, uint8_t mask) override {
        return Pass("GpoSelect", int(mask)) && sim.GpoSelect(h, mask);
    }
    bool GpioWrite(CameraHandle h, uint8_t values) override {
        return Pass("GpioWrite", int(values)) && sim.GpioWrite(h, values);
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

TEST_F(CameraTest, WithoutCameraEverythingFailsQuietly) {
    CameraSettings s = Settings800x400();
    std::vector<uint8_t> raw(64, 0), rgb(192, 0);
    EXPECT_FALSE(camera.ReadFormat(s) || camera.ApplySettings(s) || camera.FillFirstRunSettings(s));
    EXPECT_FALSE(camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, kPixelFormatBayerRggb8));
    EXPECT_EQ(camera.FrameRateCount(), 0u);
    EXPECT_EQ(std::make_pair(camera.MaxWidth(), camera.MaxHeight()), std::make_pair(0.f, 0.f));
    EXPECT_EQ(camera.SerialNumberText(), "");
    EXPECT_FALSE(camera.StartStreaming() || camera.CloseCamera() || camera.IsBusy());
    EXPECT_EQ(std::tie(s.XOffset, s.Exposure), std::make_tuple(624u, 4.0f));
    EXPECT_TRUE(messages.empty());
}

// The format goes to the camera and reads back; frames come in its size with first bytes that
// never repeat; a format or exposure the camera refuses is reported and the stream goes on.
// While the message is out (a message box runs an event loop, letting the frame handler in)
// the camera is busy and refuses conversions and other settings.
TEST_F(CameraTest, StreamsInTheAppliedFormatAndReportsWhatTheCameraRefuses) {
    ASSERT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()),
              CameraStartResult::kStreaming);
    CameraSettings s = Settings800x400();
    s.Framerate = 500.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    CameraSettings read;
    ASSERT_TRUE(camera.ReadFormat(read));
    EXPECT_EQ(std::tie(read.XOffset, read.YOffset, read.Width, read.Height, read.PixelFormat),
              std::make_tuple(624u, 568u, 800u, 400u, kPixelFormatBayerRggb8));
    EXPECT_EQ(std::tie(read.Framerate, read.Exposure), std::make_tuple(500.0f, 4.0f));
    catcher.expectedLength = 800 * 400;
    ASSERT_TRUE(catcher.WaitForFrames(50));

    std::vector<uint8_t> raw(64, 1), rgb(192);
    camera.SetMessageSink([&](const std::string& text) {
        messages.push_back(text);
        EXPECT_TRUE(camera.IsBusy());
        EXPECT_FALSE(camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, 0));
        EXPECT_FALSE(camera.ApplySettings(Settings800x400()));
    });
    s.Width = 4000; // wider than the sensor
    s.Exposure = 0.0f;
    EXPECT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(messages, (Messages{kMsgUnableToSetFormat, kMsgUnableToSetExposure}));
    EXPECT_FALSE(camera.IsBusy());
    EXPECT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 8, 8, 0));
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(800u, 4.0f)) << "as it was";
    ASSERT_TRUE(catcher.WaitForFrames(3)) << "still streaming";

    std::tie(s.Width, s.Height, s.Exposure) = std::make_tuple(640, 480, 4.0f);
    ASSERT_TRUE(camera.ApplySettings(s));
    catcher.expectedLength = 640 * 480;
    ASSERT_TRUE(catcher.WaitForFrames(50));
    ASSERT_TRUE(camera.StopStreaming());
    EXPECT_EQ(catcher.wrongLengths + catcher.repeatedMarkers, 0u);
}

// Opening asks for camera one, then for distinct first bytes and low outputs. A first run
// centres 800 x 400 at 10 ms and keeps the camera's rate and the gains; a zero rate goes out
// as the camera's lowest while the record keeps its value until read.
TEST_F(CameraTest, OpensCameraOneAndFirstRunCentresAn800x400RegionAt10Ms) {
    ASSERT_TRUE(camera.OpenCamera());
    EXPECT_EQ(api->calls, (Calls{"NumCameras", "CameraOpen 1", "SetProperty 105 0 2147483648",
                                 "GpoSelect 7", "GpioWrite 0"}));
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
    float value = -1;
    uint32_t flags = 0;
    ASSERT_TRUE(camera.Api().GetProperty(camera.Handle(), kPropDistinctFirstBytes, value, flags));
    EXPECT_EQ(std::tie(value, flags), std::make_tuple(0.0f, kFlagDistinctFirstBytes));

    s.Framerate = 0.0f;
    ASSERT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(s.Framerate, 0.0f);
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(s.Framerate, 3.75f);
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

// The conversion itself is the library's (RawFrameConversionTest).
TEST_F(CameraTest, ConvertsBilinearInTheFramesFormatAndVendorPageTakesBackOnlyTheExposure) {
    ASSERT_TRUE(camera.OpenCamera());
    std::vector<uint8_t> raw(96 * 10, 7), rgb(raw.size() * 3);
    api->calls.clear();
    ASSERT_TRUE(camera.ConvertToRgb24(rgb.data(), raw.data(), 96, 10, kPixelFormatMono8));
    EXPECT_EQ(api->calls, Calls{"Convert 96 10 1 1 0"}) << "size, format, bilinear, no matrix";

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

// Opening each backend is the program's own (the program and camera program tests).
TEST(CameraOptionTest, ParsesTheBackendAndDeviceIdAndRefusesOthers) {
    EXPECT_EQ(ParseCameraOption("sim")->backend, CameraBackend::kSim);
    EXPECT_EQ(ParseCameraOption("")->backend, CameraBackend::kAravis);
    EXPECT_EQ(ParseCameraOption("aravis")->deviceId, "");
    const auto withId = ParseCameraOption("aravis:Fake_1");
    ASSERT_TRUE(withId);
    EXPECT_EQ(std::tie(withId->backend, withId->deviceId),
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
TEST_F(CameraTest, StartThatFailsAnywhereEndsWithTheCameraClosedAndAMessage) {
    using R = CameraStartResult;
    const std::tuple<const char*, R, const char*, Calls> cases[] = {
        {"NumCameras", R::kNotConnected, kMsgUnableToConnect, {"NumCameras"}},
        {"CameraOpen 1", R::kNotConnected, kMsgUnableToConnect, {"CameraOpen 1"}},
        {"AddStreamingCallback",
         R::kClosedAgain,
         kMsgUnableToAddCallback,
         {"AddStreamingCallback", "CameraClose"}},
        {"Start", R::kClosedAgain, kMsgUnableToStartStreaming, {"Start", "CameraClose"}}};
    for (const auto& [failing, result, message, end] : cases) {
        SCOPED_TRACE(failing);
        std::tie(api->failing, api->calls, messages) =
            std::make_tuple(std::set{std::string(failing)}, Calls{}, Messages{});
        EXPECT_EQ(camera.StartCamera(catcher.Function(), catcher.Context()), result);
        EXPECT_FALSE(camera.HasCamera());
        EXPECT_EQ(messages, Messages{message});
        EXPECT_EQ(Calls(api->calls.end() - end.size(), api->calls.end()), end);
    }
}

// Settings go out in order: the stream stops, the format (its subsampling fields passed back
// as the camera reported them) and the exposure go in, the stream restarts, then the gains.
// A format that cannot be read fails before anything stops; a failed restart fails without
// the gains; neither leaves the camera busy. A stream that will not stop is left alone and
// only the gains go out. A failed move is reported for its button.
TEST_F(CameraTest, ApplySettingsReconfiguresAStoppedStreamAndAFailureMidwayLeavesItReady) {
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
        std::tie(api->failing, api->calls) =
            std::make_tuple(std::set{std::string(failing)}, Calls{});
        EXPECT_EQ(camera.ApplySettings(Settings800x400()), applied);
        EXPECT_EQ(api->calls, calls);
        EXPECT_FALSE(camera.IsBusy());
    }
    EXPECT_TRUE(messages.empty());

    CameraSettings s = Settings800x400();
    api->failing = {"Start"};
    EXPECT_FALSE(camera.MoveRegion(RegionMove::kLeft, s).has_value());
    EXPECT_EQ(messages, Messages{"Unable to move camera left"});
}

// Gains travel in thousandths and read back exactly; a failed read leaves its output as it
// was, and the other gains are read in order all the same.
TEST_F(CameraTest, GainsTravelInThousandthsAndFailedReadsKeepTheirOutputs) {
    ASSERT_TRUE(camera.OpenCamera());
    CameraSettings s = Settings800x400();
    std::tie(s.Gain, s.RedGain, s.GreenGain1, s.GreenGain2, s.BlueGain) =
        std::make_tuple(1000, 2500, 3875, 1001, 7333);
    ASSERT_TRUE(camera.ApplySettings(s));
    int32_t gain = -1, red = -1, green1 = -1, green2 = -1, blue = -1;
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, green1, green2, blue),
              std::make_tuple(1000, 2500, 3875, 1001, 7333));
    // Every whole thousandth reads back as itself; fractions truncate.
    for (uint32_t thousandths = 250; thousandths <= 7750; ++thousandths) {
        ASSERT_TRUE(api->SetProperty(camera.Handle(), kPropGain, float(thousandths / 1000.0), 0));
        camera.ReadGains(gain, red, green1, green2, blue);
        ASSERT_EQ(gain, int32_t(thousandths));
    }
    ASSERT_TRUE(api->SetProperty(camera.Handle(), kPropGain, 3.8757f, 0));
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(gain, 3875);

    std::tie(api->failing, api->calls) =
        std::make_tuple(std::set<std::string>{"GetProperty 41"}, Calls{});
    red = -7;
    camera.ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, blue), std::make_tuple(3875, -7, 7333));
    EXPECT_EQ(api->calls, (Calls{"GetProperty 40", "GetProperty 41", "GetProperty 43",
                                 "GetProperty 44", "GetProperty 42"}));
    api->failing = {"GetProperty 20"};
    s = Settings800x400();
    EXPECT_FALSE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(800u, 4.0f));
}

} // namespace
} // namespace quillon
