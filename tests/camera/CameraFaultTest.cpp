#include "camera/Camera.h"

#include "camera/SimCameraApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

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
using Messages = std::vector<std::string>;

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

    static CameraSettings Settings() {
        CameraSettings s;
        std::tie(s.XOffset, s.YOffset, s.Width, s.Height) = std::make_tuple(624, 568, 800, 400);
        std::tie(s.Framerate, s.Exposure) = std::make_tuple(50.0f, 4.0f);
        std::tie(s.Gain, s.RedGain, s.GreenGain1, s.GreenGain2, s.BlueGain) =
            std::make_tuple(1500, 1100, 1200, 1300, 1400);
        return s;
    }

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
    EXPECT_TRUE(camera->ApplySettings(Settings()));
}

// A format that cannot be read fails before anything stops; a failed restart fails without
// the gains; neither leaves the camera busy. A stream that will not stop is left alone and
// only the gains go out. A failed move is reported for its button.
TEST_F(CameraFaultTest, ApplyThatFailsMidwayLeavesTheCameraReadyForTheNext) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, GetFormat(_, _, _)).WillOnce(Return(false));
    EXPECT_CALL(*api, StreamVideoControl(_, _)).Times(0);
    EXPECT_FALSE(camera->ApplySettings(Settings()));
    EXPECT_FALSE(camera->IsBusy());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_CALL(*api, SetProperty(_, kPropGain, _, _)).Times(0);
    EXPECT_FALSE(camera->ApplySettings(Settings()));
    EXPECT_FALSE(camera->IsBusy());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop));
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart));
    EXPECT_TRUE(camera->ApplySettings(Settings()));
    EXPECT_TRUE(messages.empty());
    ExpectationsMet();

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop)).WillOnce(Return(false));
    EXPECT_CALL(*api, SetFormat(_, _, _)).Times(0);
    EXPECT_CALL(*api, SetProperty(_, kPropExposure, _, _)).Times(0);
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).Times(0);
    EXPECT_CALL(*api, SetProperty(_, kPropGainBlue, _, _));
    EXPECT_TRUE(camera->ApplySettings(Settings())) << "a stream that will not stop counts as done";
    ExpectationsMet();

    // A move that fails to apply names its button.
    CameraSettings s = Settings();
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
        EXPECT_FALSE(camera->ApplySettings(Settings()));
        checked = true;
    });
    CameraSettings refused = Settings();
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
    CameraSettings s = Settings();
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
