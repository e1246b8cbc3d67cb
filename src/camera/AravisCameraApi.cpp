#include "camera/AravisCameraApi.h"

#include "camera/BayerConversion.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quillon {

namespace {

constexpr auto kWatchTick = std::chrono::milliseconds(200);
constexpr char kWatchThreadName[] = "quillon-arvwatch";
constexpr uint32_t kFirstCamera = 1;
constexpr int32_t kCallbackNumber = 1;

size_t GainIndex(uint32_t property) {
    return property - kPropGain;
}

bool IsGain(uint32_t property) {
    return property >= kPropGain && property <= kPropGainGreen2;
}

} // namespace

AravisCameraApi::AravisCameraApi(std::string deviceId) : m_deviceId(std::move(deviceId)) {}

AravisCameraApi::~AravisCameraApi() {
    CameraClose(kHandle);
}

int32_t AravisCameraApi::NumCameras() {
    m_found = ListAravisDevices();
    if (m_deviceId.empty()) {
        return static_cast<int32_t>(m_found.size());
    }
    const bool listed = std::any_of(m_found.begin(), m_found.end(), [this](const auto& device) {
        return device.id == m_deviceId || device.address == m_deviceId;
    });
    return listed ? 1 : 0;
}

CameraHandle AravisCameraApi::CameraOpen(uint32_t index) {
    if (m_open.load() || index < kFirstCamera || (!m_deviceId.empty() && index != kFirstCamera)) {
        return kNoCameraHandle;
    }
    if (m_found.empty()) {
        m_found = ListAravisDevices();
    }
    // By its id or address, else the index-th camera found.
    std::string id = m_deviceId;
    const AravisDeviceInfo* info = nullptr;
    for (const AravisDeviceInfo& found : m_found) {
        if (!id.empty() && (found.id == id || found.address == id)) {
            info = &found;
        }
    }
    if (id.empty()) {
        if (index > m_found.size()) {
            return kNoCameraHandle;
        }
        info = &m_found[index - kFirstCamera];
        id = info->id;
    }
    std::string error;
    std::unique_ptr<AravisDevice> device = AravisDevice::Open(id, m_delivery, error);
    if (!device) {
        std::fprintf(stderr, "Quillon ID: camera %s: %s\n", id.c_str(), error.c_str());
        return kNoCameraHandle;
    }
    // DeviceSerialNumber where the camera has it, else the serial it was found with.
    std::string serial = device->SerialNumber();
    if (serial.empty() && info != nullptr) {
        serial = info->serial;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_openId = id;
        m_serial = serial;
        m_settings = SettingsInEffect{};
        m_ownGains.store(!device->HasChannelGains());
        m_device = std::move(device);
        m_open.store(true, std::memory_order_release);
    }
    {
        const std::lock_guard lock(m_lossMutex);
        m_lost = false;
        m_lostFlag.store(false);
    }
    m_quit = false;
    m_watchdog = std::thread(&AravisCameraApi::Watch, this);
    return kHandle;
}

bool AravisCameraApi::CameraClose(CameraHandle handle) {
    if (!IsOurs(handle)) {
        return false;
    }
    {
        const std::lock_guard lock(m_watchMutex);
        m_quit = true;
    }
    m_watchWake.notify_all();
    if (m_watchdog.joinable()) {
        m_watchdog.join();
    }
    std::unique_ptr<AravisDevice> device;
    {
        const std::lock_guard lock(m_mutex);
        device = std::move(m_device);
        m_open.store(false, std::memory_order_release);
    }
    device.reset(); // stops the stream: no frame is delivered after this
    m_delivery.ClearCallback();
    const std::lock_guard lock(m_lossMutex);
    m_lost = false;
    m_lostFlag.store(false);
    return true;
}

bool AravisCameraApi::SetProperty(CameraHandle handle, uint32_t property, float value,
                                  uint32_t flags) {
    if (!IsOurs(handle)) {
        return false;
    }
    if (property == kPropDistinctFirstBytes) {
        // Done by the backend for every camera, so it holds across a lost camera too.
        m_delivery.SetDistinctFirstBytes((flags & kFlagDistinctFirstBytes) != 0);
        return true;
    }
    const std::lock_guard lock(m_mutex);
    if (property == kPropExposure) {
        if (!m_device || !m_device->SetExposureMs(value)) {
            return false;
        }
        m_settings.exposureMs = value;
        return true;
    }
    if (!IsGain(property)) {
        return false;
    }
    if (property != kPropGain && m_ownGains.load()) {
        return SetChannelGainLocked(property, value);
    }
    if (!m_device || !m_device->SetGain(property, value)) {
        return false;
    }
    m_settings.gains[GainIndex(property)] = value;
    return true;
}

// A camera without colour gains of its own: the factors are kept and applied in our conversion,
// as red and blue relative to the mean green, so that equal gains change nothing.
bool AravisCameraApi::SetChannelGainLocked(uint32_t property, float factor) {
    if (!std::isfinite(factor) || factor <= 0.0f) {
        return false;
    }
    m_settings.gains[GainIndex(property)] = factor;
    UpdateOwnGainsLocked();
    return true;
}

void AravisCameraApi::UpdateOwnGainsLocked() {
    const auto gain = [this](uint32_t property) {
        return m_settings.gains[GainIndex(property)].value_or(1.0f);
    };
    const float green = (gain(kPropGainGreen1) + gain(kPropGainGreen2)) / 2.0f;
    m_ownRed.store(gain(kPropGainRed) / green, std::memory_order_relaxed);
    m_ownBlue.store(gain(kPropGainBlue) / green, std::memory_order_relaxed);
}

bool AravisCameraApi::GetProperty(CameraHandle handle, uint32_t property, float& value,
                                  uint32_t& flags) {
    if (!IsOurs(handle)) {
        return false;
    }
    flags = 0;
    const std::lock_guard lock(m_mutex);
    if (IsGain(property) && property != kPropGain && m_ownGains.load()) {
        value = m_settings.gains[GainIndex(property)].value_or(1.0f);
        return true;
    }
    if (!m_device) {
        return false;
    }
    switch (property) {
    case kPropExposure:
        return m_device->GetExposureMs(value);
    case kPropMaxWidth:
        value = m_device->SensorWidth();
        return value > 0.0f;
    case kPropMaxHeight:
        value = m_device->SensorHeight();
        return value > 0.0f;
    default:
        return IsGain(property) && m_device->GetGain(property, value);
    }
}

bool AravisCameraApi::GetFormat(CameraHandle handle, FrameFormat& format, float& frameRate) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    return m_device && m_device->GetFormat(format, frameRate);
}

bool AravisCameraApi::SetFormat(CameraHandle handle, const FrameFormat& format, float frameRate) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    if (!m_device) {
        return false;
    }
    const bool ok = m_device->SetFormat(format, frameRate);
    // What the camera took, rounded and clamped, is what a reopened camera gets again.
    FrameFormat taken;
    float takenRate = 0.0f;
    if (m_device->GetFormat(taken, takenRate)) {
        m_settings.format = taken;
        m_settings.frameRate = takenRate;
    }
    return ok;
}

bool AravisCameraApi::StreamVideoControl(CameraHandle handle, StreamMode mode) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    m_settings.streaming = mode == StreamMode::kStart;
    if (mode == StreamMode::kStop) {
        if (m_device) {
            m_device->StopStream();
        }
        return true; // a lost camera streams nothing either
    }
    return m_device && m_device->StartStream();
}

int32_t AravisCameraApi::AddStreamingCallback(CameraHandle handle, StreamingCallback callback,
                                              void* context) {
    if (!IsOurs(handle) || !m_delivery.SetCallback(callback, context)) {
        return kNoCallbackId;
    }
    return kCallbackNumber;
}

bool AravisCameraApi::RemoveStreamingCallback(CameraHandle handle, int32_t callbackId) {
    if (!IsOurs(handle) || callbackId != kCallbackNumber) {
        return false;
    }
    m_delivery.ClearCallback();
    return true;
}

bool AravisCameraApi::ConvertFrameToRgb24(CameraHandle handle, uint8_t* dest, const uint8_t* source,
                                          uint32_t width, uint32_t height, uint32_t pixelFormat,
                                          const ConversionParams& params) {
    if (!IsOurs(handle) || source == nullptr || dest == nullptr ||
        params.demosaicMethod != kDemosaicBilinear ||
        params.correctionMatrix != kColourCorrectionNone) {
        return false;
    }
    // The stream's own format decides: a camera that only has Mono8 sends grey whatever the
    // setting says, and a Bayer frame is demosaiced with the camera's tile.
    const int pattern = m_delivery.Pattern();
    if (pixelFormat == kPixelFormatMono8 || pattern == AravisFrameDelivery::kGreyFrames) {
        GreyToBgr24(source, width, height, dest);
        return true;
    }
    if (!DemosaicBayerToBgr24(source, width, height, static_cast<BayerPattern>(pattern), dest)) {
        return false;
    }
    if (m_ownGains.load(std::memory_order_relaxed)) {
        const float red = m_ownRed.load(std::memory_order_relaxed);
        const float blue = m_ownBlue.load(std::memory_order_relaxed);
        if (red != 1.0f || blue != 1.0f) {
            ScaleChannels(dest, size_t(width) * height, blue, 1.0f, red);
        }
    }
    return true;
}

uint32_t AravisCameraApi::EnumAvailableFrameRates(CameraHandle handle, uint32_t count,
                                                  float* rates) {
    if (!IsOurs(handle)) {
        return 0;
    }
    const std::lock_guard lock(m_mutex);
    if (!m_device) {
        return 0;
    }
    const std::vector<float> offered = m_device->FrameRates();
    if (rates != nullptr) {
        std::copy_n(offered.begin(), std::min<size_t>(count, offered.size()), rates);
    }
    return static_cast<uint32_t>(offered.size());
}

bool AravisCameraApi::QueryVersion(CameraHandle handle, VersionInfo& version) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    // The record holds a number; a serial with letters is only in QuerySerialNumber.
    const bool digits =
        !m_serial.empty() && m_serial.size() <= 9 &&
        std::all_of(m_serial.begin(), m_serial.end(), [](char c) { return c >= '0' && c <= '9'; });
    version = VersionInfo{};
    version.serialNumber = digits ? uint32_t(std::stoul(m_serial)) : 0;
    return true;
}

bool AravisCameraApi::QuerySerialNumber(CameraHandle handle, std::string& serial) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    serial = m_serial;
    return true;
}

bool AravisCameraApi::OneShotAutoWhiteBalance(CameraHandle handle, uint32_t /*startX*/,
                                              uint32_t /*startY*/, uint32_t /*width*/,
                                              uint32_t /*height*/) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    if (!m_device) {
        return false;
    }
    if (m_device->WhiteBalanceOnce()) {
        return true;
    }
    if (!m_device->Pattern()) {
        return false; // grey frames have no colour to balance
    }
    // Grey world over the next frame; the watchdog puts the result into the channel gains.
    m_delivery.RequestGreyWorld();
    return true;
}

bool AravisCameraApi::DisplayPropertyPage(CameraHandle /*handle*/, void* /*parentWindow*/) {
    return false;
}

bool AravisCameraApi::GpoSelect(CameraHandle handle, uint8_t outputMask) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    m_settings.outputMask = outputMask;
    return m_device && m_device->SelectOutputs(outputMask);
}

bool AravisCameraApi::GpioWrite(CameraHandle handle, uint8_t outputValues) {
    if (!IsOurs(handle)) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    m_settings.outputValues = outputValues;
    return m_device && m_device->WriteOutputs(m_settings.outputMask.value_or(0), outputValues);
}

uint64_t AravisCameraApi::LostFrames(CameraHandle handle) {
    if (handle != kHandle) {
        return 0;
    }
    const std::lock_guard lock(m_lossMutex);
    return m_delivery.Lost() + (m_lost ? MissingSinceLossLocked(Clock::now()) : 0);
}

bool AravisCameraApi::IsCameraLost(CameraHandle handle) {
    return IsOurs(handle) && m_lostFlag.load(std::memory_order_acquire);
}

uint64_t AravisCameraApi::MissingSinceLossLocked(Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - m_silentSince).count();
    return seconds > 0.0 ? uint64_t(seconds * double(m_lostRate)) : 0;
}

// ---- The watchdog ----

void AravisCameraApi::Watch() {
    pthread_setname_np(pthread_self(), kWatchThreadName);
    std::unique_lock lock(m_watchMutex);
    while (!m_quit) {
        m_watchWake.wait_for(lock, kWatchTick);
        if (m_quit) {
            break;
        }
        lock.unlock();
        Supervise();
        lock.lock();
    }
}

void AravisCameraApi::Supervise() {
    if (m_lostFlag.load()) {
        const Clock::time_point now = Clock::now();
        if (now >= m_nextAttempt) {
            m_nextAttempt = now + kReopenInterval;
            Reopen();
        }
        return;
    }
    std::unique_ptr<AravisDevice> gone;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_device) {
            return;
        }
        // A slow camera gets three frame times before its silence counts.
        const auto limit = std::max<Clock::duration>(
            kSilenceLimit,
            std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(3.0 / std::max(m_settings.frameRate, 0.01f))));
        const Clock::time_point lastBuffer = m_delivery.LastBuffer();
        const bool silent = m_device->Streaming() && Clock::now() - lastBuffer > limit;
        if (!m_device->ControlLost() && !silent) {
            TakeGreyWorldLocked();
            return;
        }
        gone = std::move(m_device);
        const std::lock_guard lossLock(m_lossMutex);
        m_lost = true;
        m_silentSince = gone->Streaming() ? lastBuffer : Clock::now();
        m_lostRate = m_settings.streaming ? m_settings.frameRate : 0.0f;
        m_lostFlag.store(true, std::memory_order_release);
    }
    std::fprintf(stderr, "Quillon ID: camera %s lost; trying to open it again every %lld s\n",
                 m_openId.c_str(), static_cast<long long>(kReopenInterval.count() / 1000));
    gone->MarkLost();
    gone.reset();
    m_nextAttempt = Clock::now();
}

void AravisCameraApi::Reopen() {
    std::string error;
    std::unique_ptr<AravisDevice> device = AravisDevice::Open(m_openId, m_delivery, error);
    if (!device) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    if (!RestoreLocked(*device)) {
        return; // it answered but does not stream yet: the next attempt tries again
    }
    m_device = std::move(device);
    {
        const std::lock_guard lossLock(m_lossMutex);
        m_delivery.AddLost(MissingSinceLossLocked(Clock::now()));
        m_lost = false;
        m_lostFlag.store(false, std::memory_order_release);
    }
    std::fprintf(stderr, "Quillon ID: camera %s is back\n", m_openId.c_str());
}

// The settings in effect, on a camera that was opened again; then the stream, if one ran.
bool AravisCameraApi::RestoreLocked(AravisDevice& device) {
    if (m_settings.format) {
        device.SetFormat(*m_settings.format, m_settings.frameRate);
    }
    if (m_settings.exposureMs) {
        device.SetExposureMs(*m_settings.exposureMs);
    }
    for (uint32_t property = kPropGain; property <= kPropGainGreen2; ++property) {
        const std::optional<float>& gain = m_settings.gains[GainIndex(property)];
        if (gain && (property == kPropGain || !m_ownGains.load())) {
            device.SetGain(property, *gain);
        }
    }
    if (m_settings.outputMask) {
        device.SelectOutputs(*m_settings.outputMask);
        device.WriteOutputs(*m_settings.outputMask, m_settings.outputValues.value_or(0));
    }
    return !m_settings.streaming || device.StartStream();
}

// A grey-world balance measured on a frame goes into the colour gains: the camera's own, or
// those of our conversion.
void AravisCameraApi::TakeGreyWorldLocked() {
    float blue = 1.0f;
    float red = 1.0f;
    if (!m_delivery.TakeGreyWorld(blue, red)) {
        return;
    }
    if (m_ownGains.load()) {
        const auto green = [this](uint32_t property) {
            return m_settings.gains[GainIndex(property)].value_or(1.0f);
        };
        const float meanGreen = (green(kPropGainGreen1) + green(kPropGainGreen2)) / 2.0f;
        // The measurement is of the raw frame, before our own factors.
        m_settings.gains[GainIndex(kPropGainRed)] = red * meanGreen;
        m_settings.gains[GainIndex(kPropGainBlue)] = blue * meanGreen;
        UpdateOwnGainsLocked();
        return;
    }
    for (const auto& [property, factor] : {std::pair{kPropGainRed, red}, {kPropGainBlue, blue}}) {
        float current = 1.0f;
        if (m_device->GetGain(property, current) && m_device->SetGain(property, current * factor)) {
            m_settings.gains[GainIndex(property)] = current * factor;
        }
    }
}

} // namespace quillon
