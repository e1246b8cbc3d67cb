#include "camera/Camera.h"

#include "camera/SimCameraApi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
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
        ON_CALL(*this, NumCameras).WillByDefault(Invoke(&sim, &SimCameraApi::NumCameras));
        ON_CALL(*this, CameraOpen).WillByDefault(Invoke(&sim, &SimCameraApi::CameraOpen));
        ON_CALL(*this, CameraClose).WillByDefault(Invoke(&sim, &SimCameraApi::CameraClose));
        ON_CALL(*this, SetProperty).WillByDefault(Invoke(&sim, &SimCameraApi::SetProperty));
        ON_CALL(*this, GetProperty).WillByDefault(Invoke(&sim, &SimCameraApi::GetProperty));
        ON_CALL(*this, GetFormat).WillByDefault(Invoke(&sim, &SimCameraApi::GetFormat));
        ON_CALL(*this, SetFormat).WillByDefault(Invoke(&sim, &SimCameraApi::SetFormat));
        ON_CALL(*this, StreamVideoControl)
            .WillByDefault(Invoke(&sim, &SimCameraApi::StreamVideoControl));
        ON_CALL(*this, AddStreamingCallback)
            .WillByDefault(Invoke(&sim, &SimCameraApi::AddStreamingCallback));
        ON_CALL(*this, RemoveStreamingCallback)
            .WillByDefault(Invoke(&sim, &SimCameraApi::RemoveStreamingCallback));
        ON_CALL(*this, ConvertFrameToRgb24)
            .WillByDefault(Invoke(&sim, &SimCameraApi::ConvertFrameToRgb24));
        ON_CALL(*this, EnumAvailableFrameRates)
            .WillByDefault(Invoke(&sim, &SimCameraApi::EnumAvailableFrameRates));
        ON_CALL(*this, QueryVersion).WillByDefault(Invoke(&sim, &SimCameraApi::QueryVersion));
        ON_CALL(*this, OneShotAutoWhiteBalance)
            .WillByDefault(Invoke(&sim, &SimCameraApi::OneShotAutoWhiteBalance));
        ON_CALL(*this, DisplayPropertyPage)
            .WillByDefault(Invoke(&sim, &SimCameraApi::DisplayPropertyPage));
        ON_CALL(*this, GpoSelect).WillByDefault(Invoke(&sim, &SimCameraApi::GpoSelect));
        ON_CALL(*this, GpioWrite).WillByDefault(Invoke(&sim, &SimCameraApi::GpioWrite));
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
        // Any call is fine unless a test expects otherwise; its own expectations come later
        // and so take precedence.
        EXPECT_CALL(*api, StreamVideoControl(_, _)).Times(AnyNumber());
        EXPECT_CALL(*api, SetProperty(_, _, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, GetProperty(_, _, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, GetFormat(_, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, SetFormat(_, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, AddStreamingCallback(_, _, _)).Times(AnyNumber());
        EXPECT_CALL(*api, CameraClose(_)).Times(AnyNumber());
    }

    // The camera's destructor stops the stream; that is not part of any test's expectations.
    void TearDown() override { ::testing::Mock::VerifyAndClearExpectations(api); }

    static CameraSettings Settings() {
        CameraSettings s;
        s.XOffset = 624;
        s.YOffset = 568;
        s.Width = 800;
        s.Height = 400;
        s.Framerate = 50.0f;
        s.Exposure = 4.0f;
        s.Gain = 1500;
        s.RedGain = 1100;
        s.GreenGain1 = 1200;
        s.GreenGain2 = 1300;
        s.BlueGain = 1400;
        return s;
    }

    NiceMock<ObservedSimApi>* api = nullptr;
    std::vector<std::string> messages;
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

TEST_F(CameraFaultTest, NoCameraMeansNoOpenAndTheConnectMessage) {
    EXPECT_CALL(*api, NumCameras()).WillOnce(Return(0));
    EXPECT_CALL(*api, CameraOpen(_)).Times(0);
    EXPECT_EQ(camera->StartCamera(&IgnoreFrame, nullptr), CameraStartResult::kNotConnected);
    EXPECT_EQ(messages, std::vector<std::string>{kMsgUnableToConnect});

    EXPECT_CALL(*api, NumCameras()).WillOnce(Return(1));
    EXPECT_CALL(*api, CameraOpen(_)).WillOnce(Return(kNoCameraHandle));
    EXPECT_FALSE(camera->OpenCamera());
}

TEST_F(CameraFaultTest, RefusedCallbackClosesTheCameraAgain) {
    EXPECT_CALL(*api, AddStreamingCallback(_, _, _)).WillOnce(Return(kNoCallbackId));
    EXPECT_CALL(*api, CameraClose(_));
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).Times(0);
    EXPECT_EQ(camera->StartCamera(&IgnoreFrame, nullptr), CameraStartResult::kClosedAgain);
    EXPECT_FALSE(camera->HasCamera());
    EXPECT_EQ(messages, std::vector<std::string>{kMsgUnableToAddCallback});
}

TEST_F(CameraFaultTest, RefusedStreamClosesTheCameraAgain) {
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_CALL(*api, CameraClose(_));
    EXPECT_EQ(camera->StartCamera(&IgnoreFrame, nullptr), CameraStartResult::kClosedAgain);
    EXPECT_FALSE(camera->HasCamera());
    EXPECT_EQ(messages, std::vector<std::string>{kMsgUnableToStartStreaming});
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

TEST_F(CameraFaultTest, FailedRestartFailsAndLeavesBusyClearSoTheNextApplyRuns) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_CALL(*api, SetProperty(_, kPropGain, _, _)).Times(0);
    EXPECT_FALSE(camera->ApplySettings(Settings()));
    EXPECT_FALSE(camera->IsBusy());
    ::testing::Mock::VerifyAndClearExpectations(api);

    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop));
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart));
    EXPECT_TRUE(camera->ApplySettings(Settings()));
    EXPECT_TRUE(messages.empty());
}

TEST_F(CameraFaultTest, UnreadableFormatFailsBeforeStopping) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, GetFormat(_, _, _)).WillOnce(Return(false));
    EXPECT_CALL(*api, StreamVideoControl(_, _)).Times(0);
    EXPECT_FALSE(camera->ApplySettings(Settings()));
    EXPECT_FALSE(camera->IsBusy());
}

TEST_F(CameraFaultTest, StreamThatWillNotStopIsLeftAloneAndCountsAsSuccess) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStop)).WillOnce(Return(false));
    EXPECT_CALL(*api, SetFormat(_, _, _)).Times(0);
    EXPECT_CALL(*api, SetProperty(_, kPropExposure, _, _)).Times(0);
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).Times(0);
    EXPECT_CALL(*api, SetProperty(_, kPropGainBlue, _, _));
    EXPECT_TRUE(camera->ApplySettings(Settings()));
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

TEST_F(CameraFaultTest, UnreadableExposureLeavesTheRecordUntouched) {
    ASSERT_TRUE(camera->OpenCamera());
    EXPECT_CALL(*api, GetProperty(_, kPropExposure, _, _)).WillOnce(Return(false));
    CameraSettings s = Settings();
    EXPECT_FALSE(camera->ReadFormat(s));
    EXPECT_EQ(s.Width, 800u);
    EXPECT_EQ(s.Exposure, 4.0f);
}

TEST_F(CameraFaultTest, GainsAreReadInOrderAndAFailedReadKeepsItsOutput) {
    ASSERT_TRUE(camera->OpenCamera());
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
    EXPECT_EQ(gain, 1000);
    EXPECT_EQ(red, -7);
    EXPECT_EQ(blue, 1000);
}

TEST_F(CameraFaultTest, FailedMoveShowsTheButtonMessage) {
    ASSERT_TRUE(camera->OpenCamera());
    CameraSettings s = Settings();
    ASSERT_TRUE(camera->ApplySettings(s));
    EXPECT_CALL(*api, StreamVideoControl(_, StreamMode::kStart)).WillOnce(Return(false));
    EXPECT_FALSE(camera->MoveRegion(RegionMove::kLeft, s).has_value());
    EXPECT_EQ(messages, std::vector<std::string>{"Unable to move camera left"});
}

} // namespace
} // namespace quillon
