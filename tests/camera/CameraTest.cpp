#include "camera/Camera.h"

#include "camera/BayerConversion.h"
#include "camera/CameraApiFactory.h"
#include "camera/SimCameraApi.h"

#include "FrameCatcher.h"

#include <gmock/gmock.h>
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
    std::tie(s.Framerate, s.Exposure) = std::make_tuple(50.0f, 4.0f);
    std::tie(s.Gain, s.RedGain, s.GreenGain1, s.GreenGain2, s.BlueGain) =
        std::make_tuple(1500, 1100, 1200, 1300, 1400);
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
    EXPECT_EQ(std::tie(s.XOffset, s.Exposure), std::make_tuple(624u, 4.0f));
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
    EXPECT_EQ(std::tie(read.Framerate, read.Exposure), std::make_tuple(500.0f, 4.0f));
    catcher.expectedLength = 800 * 400;
    ASSERT_TRUE(catcher.WaitForFrames(50));

    s.Width = 4000; // wider than the sensor
    s.Exposure = 0.0f;
    EXPECT_TRUE(camera.ApplySettings(s));
    EXPECT_EQ(messages, (Messages{kMsgUnableToSetFormat, kMsgUnableToSetExposure}));
    ASSERT_TRUE(camera.ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(800u, 4.0f)) << "as it was";
    ASSERT_TRUE(catcher.WaitForFrames(3)) << "still streaming";

    std::tie(s.Width, s.Height, s.Exposure) = std::make_tuple(640, 480, 4.0f);
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
    float value = -1;
    uint32_t flags = 0;
    ASSERT_TRUE(camera.Api().GetProperty(camera.Handle(), kPropDistinctFirstBytes, value, flags));
    EXPECT_EQ(std::tie(value, flags), std::make_tuple(0.0f, kFlagDistinctFirstBytes));
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

using ::testing::_;
using ::testing::AllOf;
using ::testing::AnyNumber;
using ::testing::Field;
using ::testing::FloatEq;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;

// The camera API of the simulated camera with every call observable and overridable, to check
// the order of calls and to inject failures.
class ObservedSimApi : public ICameraApi {
public:
    ObservedSimApi() {
#define QUILLON_DELEGATE(name) ON_CALL(*this, name).WillByDefault(Invoke(&sim, &SimCameraApi::name))
        QUILLON_DELEGATE(NumCameras);
        QUILLON_DELEGATE(CameraOpen);
        QUILLON_DELEGATE(CameraClose);
        QUILLON_DELEGATE(SetProperty);
        QUILLON_DELEGATE(GetProperty);
        QUILLON_DELEGATE(GetFormat);
        QUILLON_DELEGATE(SetFormat);
        QUILLON_DELEGATE(StreamVideoControl);
        QUILLON_DELEGATE(AddStreamingCallback);
        QUILLON_DELEGATE(RemoveStreamingCallback);
        QUILLON_DELEGATE(ConvertFrameToRgb24);
        QUILLON_DELEGATE(EnumAvailableFrameRates);
        QUILLON_DELEGATE(QueryVersion);
        QUILLON_DELEGATE(OneShotAutoWhiteBalance);
        QUILLON_DELEGATE(DisplayPropertyPage);
        QUILLON_DELEGATE(GpoSelect);
        QUILLON_DELEGATE(GpioWrite);
#undef QUILLON_DELEGATE
    }

    MOCK_METHOD(int32_t, NumCameras, (), (override));
    MOCK_METHOD(CameraHandle, CameraOpen, (uint32_t), (override));
    MOCK_METHOD(bool, CameraClose, (CameraHandle), (override));
    MOCK_METHOD(bool, SetProperty, (CameraHandle, uint32_t, float, uint32_t), (override));
    MOCK_METHOD(bool, GetProperty, (CameraHandle, uint32_t, float&, uint32_t&), (override));
    MOCK_METHOD(bool, GetFormat, (CameraHandle, FrameFormat&, float&), (override));
    MOCK_METHOD(bool, SetFormat, (CameraHandle, const FrameFormat&, float), (override));
    MOCK_METHOD(bool, StreamVideoControl, (CameraHandle, StreamMode), (override));
    MOCK_METHOD(int32_t, AddStreamingCallback, (CameraHandle, StreamingCallback, void*),
                (override));
    MOCK_METHOD(bool, RemoveStreamingCallback, (CameraHandle, int32_t), (override));
    MOCK_METHOD(bool, ConvertFrameToRgb24,
                (CameraHandle, uint8_t*, const uint8_t*, uint32_t, uint32_t, uint32_t,
                 const ConversionParams&),
                (override));
    MOCK_METHOD(uint32_t, EnumAvailableFrameRates, (CameraHandle, uint32_t, float*), (override));
    MOCK_METHOD(bool, QueryVersion, (CameraHandle, VersionInfo&), (override));
    MOCK_METHOD(bool, OneShotAutoWhiteBalance,
                (CameraHandle, uint32_t, uint32_t, uint32_t, uint32_t), (override));
    MOCK_METHOD(bool, DisplayPropertyPage, (CameraHandle, void*), (override));
    MOCK_METHOD(bool, GpoSelect, (CameraHandle, uint8_t), (override));
    MOCK_METHOD(bool, GpioWrite, (CameraHandle, uint8_t), (override));

    SimCameraApi sim;
};

void IgnoreFrame(void*, uint8_t*, uint32_t) {}

class CameraFaultTest : public ::testing::Test {
protected:
    CameraFaultTest() {
        auto owned = std::make_unique<NiceMock<ObservedSimApi>>();
        api = owned.get();
        camera = std::make_unique<CCamera>(
            std::move(owned), [this](const std::string& text) { messages.push_back(text); });
        AllowEveryCall();
    }
    // Any call is fine unless a test expects otherwise; its own expectations come later and so
    // take precedence.
    void AllowEveryCall() {
        EXPECT_CALL(*api, StreamVideoControl(_, _)).Times(AnyNumber());
        EXPECT_CALL(*api, SetProperty(_, _, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, GetProperty(_, _, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, GetFormat(_, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, SetFormat(_, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, AddStreamingCallback(_, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, CameraClose(_)).Times(AnyNumber());
    }
    void ExpectationsMet() {
        ::testing::Mock::VerifyAndClearExpectations(api);
        AllowEveryCall();
    }

    // The camera's destructor stops the stream; that is not part of any test's expectations.
    void TearDown() override { ::testing::Mock::VerifyAndClearExpectations(api); }

    NiceMock<ObservedSimApi>* api = nullptr;
    Messages messages;
    std::unique_ptr<CCamera> camera;
};

TEST_F(CameraFaultTest, OpenAsksForCameraOneThenSetsMarkerAndOutputs) {
    InSequence order;
    EXPECT_CALL(*api, NumCameras());
    EXPECT_CALL(*api, CameraOpen(1u));
    EXPECT_CALL(*api, SetProperty(_, 105u, 0.0f, 0x80000000u));
    EXPECT_CALL(*api, GpoSelect(_, 7));
    EXPECT_CALL(*api, GpioWrite(_, 0));
    EXPECT_TRUE(camera->OpenCamera());
}

TEST_F(CameraFaultTest, StartThatFailsAnywhereEndsWithTheCameraClosedAndAMessage) {
    EXPECT_CALL(*api, NumCameras()).WillOnce(Return(0));
    EXPECT_CALL(*api, CameraOpen(_)).Times(0);
    EXPECT_EQ(camera->StartCamera(&IgnoreFrame, nullptr), CameraStartResult::kNotConnected);
    EXPECT_CALL(*api, NumCameras()).WillOnce(Return(1));
    EXPECT_CALL(*api, CameraOpen(_)).WillOnce(Return(kNoCameraHandle));
    EXPECT_FALSE(camera->OpenCamera());
    ExpectationsMet();

    EXPECT_CALL(*api, AddStreamingCallback(_, _, _)).WillOnce(Return(kNoCallbackId));
    EXPECT_CALL(*api, CameraClose(_));
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).Times(0);
    EXPECT_EQ(camera->StartCamera(&IgnoreFrame, nullptr), CameraStartResult::kClosedAgain);
    EXPECT_FALSE(camera->HasCamera());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_CALL(*api, CameraClose(_));
    EXPECT_EQ(camera->StartCamera(&IgnoreFrame, nullptr), CameraStartResult::kClosedAgain);
    EXPECT_FALSE(camera->HasCamera());
    EXPECT_EQ(messages,
              (Messages{kMsgUnableToConnect, kMsgUnableToAddCallback, kMsgUnableToStartStreaming}));
}

TEST_F(CameraFaultTest, ApplySettingsStopsReconfiguresRestartsThenSendsGains) {
    ASSERT_TRUE(camera->OpenCamera());
    // The subsampling fields come back to the camera as it reported them.
    FrameFormat reported{0, 0, 2048, 1536, kPixelFormatBayerRggb8, 1, 5, 1, 6};
    {
        InSequence order;
        EXPECT_CALL(*api, GetFormat(_, _, _))
            .WillOnce([&](CameraHandle, FrameFormat& f, float& rate) {
                f = reported;
                rate = 25.0f;
                return true;
            });
        EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop));
        EXPECT_CALL(
            *api,
            SetFormat(_,
                      AllOf(Field(&FrameFormat::xOffset, 624u), Field(&FrameFormat::yOffset, 568u),
                            Field(&FrameFormat::width, 800u), Field(&FrameFormat::height, 400u),
                            Field(&FrameFormat::flagsX, 5), Field(&FrameFormat::flagsY, 6)),
                      50.0f));
        EXPECT_CALL(*api, SetProperty(_, kPropExposure, 4.0f, 0u));
        EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart));
        EXPECT_CALL(*api, SetProperty(_, kPropGain, FloatEq(1.5f), 0u));
        EXPECT_CALL(*api, SetProperty(_, kPropGainRed, FloatEq(1.1f), 0u));
        EXPECT_CALL(*api, SetProperty(_, kPropGainGreen1, FloatEq(1.2f), 0u));
        EXPECT_CALL(*api, SetProperty(_, kPropGainGreen2, FloatEq(1.3f), 0u));
        EXPECT_CALL(*api, SetProperty(_, kPropGainBlue, FloatEq(1.4f), 0u));
    }
    EXPECT_TRUE(camera->ApplySettings(Settings800x400()));
}

// A format that cannot be read fails before anything stops; a failed restart fails without
// the gains; neither leaves the camera busy. A stream that will not stop is left alone and
// only the gains go out. A failed move is reported for its button.
TEST_F(CameraFaultTest, ApplyThatFailsMidwayLeavesTheCameraReadyForTheNext) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, GetFormat(_, _, _)).WillOnce(Return(false));
    EXPECT_CALL(*api, StreamVideoControl(_, _)).Times(0);
    EXPECT_FALSE(camera->ApplySettings(Settings800x400()));
    EXPECT_FALSE(camera->IsBusy());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_CALL(*api, SetProperty(_, kPropGain, _, _)).Times(0);
    EXPECT_FALSE(camera->ApplySettings(Settings800x400()));
    EXPECT_FALSE(camera->IsBusy());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop));
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart));
    EXPECT_TRUE(camera->ApplySettings(Settings800x400()));
    EXPECT_TRUE(messages.empty());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop)).WillOnce(Return(false));
    EXPECT_CALL(*api, SetFormat(_, _, _)).Times(0);
    EXPECT_CALL(*api, SetProperty(_, kPropExposure, _, _)).Times(0);
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).Times(0);
    EXPECT_CALL(*api, SetProperty(_, kPropGainBlue, _, _));
    EXPECT_TRUE(camera->ApplySettings(Settings800x400()))
        << "a stream that will not stop counts as done";
    ExpectationsMet();

    // A move that fails to apply names its button.
    CameraSettings s = Settings800x400();
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_FALSE(camera->MoveRegion(RegionMove::kLeft, s).has_value());
    EXPECT_EQ(messages, Messages{"Unable to move camera left"});
}

TEST_F(CameraFaultTest, WhileApplyingEverythingBusyRefusesToStart) {
    ASSERT_TRUE(camera->OpenCamera());
    std::vector<uint8_t> raw(64, 1), rgb(192);
    bool checked = false;
    // A message box would run an event loop here, letting the frame handler in.
    camera->SetMessageSink([&](const std::string&) {
        EXPECT_TRUE(camera->IsBusy());
        EXPECT_FALSE(camera->ConvertToRgb24(rgb.data(), raw.data(), 8, 8, 0));
        EXPECT_FALSE(camera->ApplySettings(Settings800x400()));
        checked = true;
    });
    CameraSettings refused = Settings800x400();
    refused.Width = 5000;
    EXPECT_TRUE(camera->ApplySettings(refused));
    EXPECT_TRUE(checked);
    EXPECT_FALSE(camera->IsBusy());
    EXPECT_TRUE(camera->ConvertToRgb24(rgb.data(), raw.data(), 8, 8, 0));
}

// A failed read leaves its output as it was; the gains are read in order all the same.
TEST_F(CameraFaultTest, FailedReadsKeepTheirOutputs) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, GetProperty(_, kPropExposure, _, _)).WillOnce(Return(false));
    CameraSettings s = Settings800x400();
    EXPECT_FALSE(camera->ReadFormat(s));
    EXPECT_EQ(std::tie(s.Width, s.Exposure), std::make_tuple(800u, 4.0f));
    {
        InSequence order;
        EXPECT_CALL(*api, GetProperty(_, kPropGain, _, _));
        EXPECT_CALL(*api, GetProperty(_, kPropGainRed, _, _)).WillOnce(Return(false));
        EXPECT_CALL(*api, GetProperty(_, kPropGainGreen1, _, _));
        EXPECT_CALL(*api, GetProperty(_, kPropGainGreen2, _, _));
        EXPECT_CALL(*api, GetProperty(_, kPropGainBlue, _, _));
    }
    int32_t gain = -1, red = -7, green1 = -1, green2 = -1, blue = -1;
    camera->ReadGains(gain, red, green1, green2, blue);
    EXPECT_EQ(std::tie(gain, red, blue), std::make_tuple(1000, -7, 1000));
}

} // namespace
} // namespace quillon
