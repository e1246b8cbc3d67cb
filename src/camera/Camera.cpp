#include "camera/Camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace quillon {

namespace {

constexpr uint32_t kFirstCamera = 1; // the API counts cameras from 1
constexpr uint8_t kAllOutputs = 7;
constexpr uint8_t kOutputsLow = 0;
constexpr uint32_t kNoFlags = 0;
constexpr float kMinFrameRate = 1.0f;
constexpr double kThousandths = 1000.0;
// A gain made from whole thousandths may come back from the camera as a float a hair below
// them (1.001 is 1.00099993); such a value counts as the whole number instead of truncating
// to the one below. Float error at gains below 100 stays far under this.
constexpr double kGainReadTolerance = 0.01;

// Gain property numbers in the order the gains are sent and read.
constexpr uint32_t kGainOrder[] = {kPropGain, kPropGainRed, kPropGainGreen1, kPropGainGreen2,
                                   kPropGainBlue};

std::optional<int32_t> FactorToThousandths(float factor) {
    const double thousandths = static_cast<double>(factor) * kThousandths;
    if (!std::isfinite(thousandths) ||
        std::fabs(thousandths) >= std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    const double nearest = std::round(thousandths);
    if (std::fabs(thousandths - nearest) < kGainReadTolerance) {
        return static_cast<int32_t>(nearest);
    }
    return static_cast<int32_t>(std::trunc(thousandths));
}

class BusyScope {
public:
    explicit BusyScope(std::atomic<bool>& busy) : m_busy(busy) {
        bool expected = false;
        m_owned = m_busy.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
    }
    ~BusyScope() {
        if (m_owned) {
            m_busy.store(false, std::memory_order_release);
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    bool Owned() const { return m_owned; }

private:
    std::atomic<bool>& m_busy;
    bool m_owned = false;
};

} // namespace

CCamera::CCamera(std::unique_ptr<ICameraApi> api, MessageSink sink)
    : m_api(std::move(api)), m_sink(std::move(sink)) {}

CCamera::~CCamera() {
    if (HasCamera()) {
        StopStreaming();
    }
}

void CCamera::SetMessageSink(MessageSink sink) {
    m_sink = std::move(sink);
}

void CCamera::Message(const std::string& text) const {
    if (m_sink) {
        m_sink(text);
    } else {
        std::fprintf(stderr, "Quillon ID: %s\n", text.c_str());
    }
}

CameraStartResult CCamera::StartCamera(StreamingCallback callback, void* context) {
    if (!OpenCamera()) {
        Message(kMsgUnableToConnect);
        return CameraStartResult::kNotConnected;
    }
    if (!AddFrameCallback(callback, context)) {
        Message(kMsgUnableToAddCallback);
        CloseCamera();
        return CameraStartResult::kClosedAgain;
    }
    if (!StartStreaming()) {
        Message(kMsgUnableToStartStreaming);
        CloseCamera();
        return CameraStartResult::kClosedAgain;
    }
    return CameraStartResult::kStreaming;
}

bool CCamera::OpenCamera() {
    if (m_api->NumCameras() <= 0) {
        return false;
    }
    m_handle = m_api->CameraOpen(kFirstCamera);
    if (!HasCamera()) {
        return false;
    }
    // From here on the camera changes the first two bytes of every new frame, which the frame
    // callback relies on to drop repeated deliveries. The outputs are driven low once and
    // never touched again. Neither result matters.
    m_api->SetProperty(m_handle, kPropDistinctFirstBytes, 0.0f, kFlagDistinctFirstBytes);
    m_api->GpoSelect(m_handle, kAllOutputs);
    m_api->GpioWrite(m_handle, kOutputsLow);
    return true;
}

bool CCamera::CloseCamera() {
    const bool closed = m_api->CameraClose(m_handle);
    m_handle = kNoCameraHandle;
    return closed;
}

bool CCamera::AddFrameCallback(StreamingCallback callback, void* context) {
    // The callback's number is not kept: it stays registered for the camera's life.
    return m_api->AddStreamingCallback(m_handle, callback, context) != kNoCallbackId;
}

bool CCamera::StartStreaming() {
    return m_api->StreamVideoControl(m_handle, StreamMode::kStart);
}

bool CCamera::StopStreaming() {
    return m_api->StreamVideoControl(m_handle, StreamMode::kStop);
}

bool CCamera::ReadFormat(CameraSettings& settings) {
    if (!HasCamera()) {
        return false;
    }
    FrameFormat format;
    float frameRate = 0.0f;
    float exposure = 0.0f;
    uint32_t flags = 0;
    if (!m_api->GetFormat(m_handle, format, frameRate) ||
        !m_api->GetProperty(m_handle, kPropExposure, exposure, flags)) {
        return false;
    }
    settings.XOffset = format.xOffset;
    settings.YOffset = format.yOffset;
    settings.Width = format.width;
    settings.Height = format.height;
    settings.PixelFormat = format.pixelFormat;
    settings.Framerate = frameRate;
    settings.Exposure = exposure;
    return true;
}

bool CCamera::ApplySettings(const CameraSettings& settings) {
    if (!HasCamera()) {
        return false;
    }
    bool streaming = false;
    {
        const BusyScope busy(m_busy);
        if (!busy.Owned()) {
            return false;
        }
        streaming = Reconfigure(settings);
    }
    if (!streaming) {
        return false;
    }
    SendGains(settings);
    return true;
}

// Runs with `busy` set. True if the camera streams afterwards.
bool CCamera::Reconfigure(const CameraSettings& settings) {
    // The current record supplies the subsampling fields, which are passed back as read.
    FrameFormat format;
    float currentRate = 0.0f;
    if (!m_api->GetFormat(m_handle, format, currentRate)) {
        return false;
    }
    format.xOffset = settings.XOffset;
    format.yOffset = settings.YOffset;
    format.width = settings.Width;
    format.height = settings.Height;
    format.pixelFormat = settings.PixelFormat;
    const float frameRate = std::max(kMinFrameRate, settings.Framerate);

    if (!m_api->StreamVideoControl(m_handle, StreamMode::kStop)) {
        return true; // still streaming as before, nothing applied
    }
    // A refused format or exposure is reported and the camera goes on with what it has; the
    // caller's next ReadFormat shows what it really uses.
    if (!m_api->SetFormat(m_handle, format, frameRate)) {
        Message(kMsgUnableToSetFormat);
    }
    if (!m_api->SetProperty(m_handle, kPropExposure, settings.Exposure, kNoFlags)) {
        Message(kMsgUnableToSetExposure);
    }
    return m_api->StreamVideoControl(m_handle, StreamMode::kStart);
}

void CCamera::SendGains(const CameraSettings& settings) {
    const uint32_t thousandths[] = {settings.Gain, settings.RedGain, settings.GreenGain1,
                                    settings.GreenGain2, settings.BlueGain};
    for (size_t i = 0; i < std::size(kGainOrder); ++i) {
        const auto factor = static_cast<float>(thousandths[i] / kThousandths);
        m_api->SetProperty(m_handle, kGainOrder[i], factor, kNoFlags);
    }
}

bool CCamera::ConvertToRgb24(uint8_t* dest, const uint8_t* source, uint32_t width, uint32_t height,
                             uint32_t pixelFormat) {
    if (!HasCamera()) {
        return false;
    }
    const BusyScope busy(m_busy);
    if (!busy.Owned()) {
        return false;
    }
    const ConversionParams params{kDemosaicBilinear, kColourCorrectionNone};
    return m_api->ConvertFrameToRgb24(m_handle, dest, source, width, height, pixelFormat, params);
}

bool CCamera::ConvertFrame(uint8_t* dest, const uint8_t* source, uint32_t width, uint32_t height,
                           uint32_t pixelFormat) {
    if (!HasCamera())
        return false;
    const ConversionParams params{kDemosaicBilinear, kColourCorrectionNone};
    return m_api->ConvertFrameToRgb24(m_handle, dest, source, width, height, pixelFormat, params);
}

void CCamera::ShowVendorPropertyPage(void* parentWindow, CameraSettings& settings) {
    m_api->DisplayPropertyPage(m_handle, parentWindow);
    // Only the exposure is taken back from the page.
    float exposure = 0.0f;
    if (ReadProperty(kPropExposure, exposure)) {
        settings.Exposure = exposure;
    }
}

uint32_t CCamera::FrameRateCount() {
    return HasCamera() ? m_api->EnumAvailableFrameRates(m_handle, 0, nullptr) : 0;
}

void CCamera::ListFrameRates(std::span<float> rates) {
    if (HasCamera() && !rates.empty()) {
        m_api->EnumAvailableFrameRates(m_handle, static_cast<uint32_t>(rates.size()), rates.data());
    }
}

bool CCamera::ReadProperty(uint32_t property, float& value) {
    uint32_t flags = 0;
    return HasCamera() && m_api->GetProperty(m_handle, property, value, flags);
}

float CCamera::MaxWidth() {
    float value = 0.0f;
    return ReadProperty(kPropMaxWidth, value) ? value : 0.0f;
}

float CCamera::MaxHeight() {
    float value = 0.0f;
    return ReadProperty(kPropMaxHeight, value) ? value : 0.0f;
}

void CCamera::ReadGains(int32_t& gain, int32_t& red, int32_t& green1, int32_t& green2,
                        int32_t& blue) {
    int32_t* outputs[] = {&gain, &red, &green1, &green2, &blue};
    for (size_t i = 0; i < std::size(kGainOrder); ++i) {
        float factor = 0.0f;
        if (!ReadProperty(kGainOrder[i], factor)) {
            continue;
        }
        if (const std::optional<int32_t> value = FactorToThousandths(factor)) {
            *outputs[i] = *value;
        }
    }
}

std::string CCamera::SerialNumberText() {
    // A camera's own serial text, letters and all, where its backend has one.
    std::string serial;
    if (HasCamera() && m_api->QuerySerialNumber(m_handle, serial)) {
        return serial;
    }
    VersionInfo version;
    if (!HasCamera() || !m_api->QueryVersion(m_handle, version)) {
        return {};
    }
    return std::to_string(static_cast<int32_t>(version.serialNumber));
}

uint64_t CCamera::LostFrames() {
    return HasCamera() ? m_api->LostFrames(m_handle) : 0;
}

bool CCamera::IsCameraLost() {
    return HasCamera() && m_api->IsCameraLost(m_handle);
}

bool CCamera::FillFirstRunSettings(CameraSettings& settings) {
    if (!HasCamera()) {
        return false;
    }
    ReadFormat(settings);
    settings.Exposure = kFirstRunExposureMs;
    settings.Width = kFirstRunWidth;
    settings.Height = kFirstRunHeight;
    settings.XOffset = CentredOffset(MaxWidth(), settings.Width);
    settings.YOffset = CentredOffset(MaxHeight(), settings.Height);
    return true;
}

std::optional<RegionButtons> CCamera::MoveRegion(RegionMove move, CameraSettings& settings) {
    ReadFormat(settings);
    ShiftRegion(move, MaxWidth(), MaxHeight(), settings);
    if (!ApplySettings(settings)) {
        Message(RegionMoveFailureText(move));
        return std::nullopt;
    }
    ReadFormat(settings);
    return ButtonsAfterMove(move, MaxWidth(), MaxHeight(), settings);
}

} // namespace quillon
