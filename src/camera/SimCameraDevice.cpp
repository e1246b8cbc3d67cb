#include "camera/SimCameraDevice.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

// The picture looks as drawn at this exposure with master and colour gains at the reference
// gain (the recorder's default settings); light scales with exposure and with both gains.
constexpr float kReferenceExposureMs = 10.0f;
constexpr float kReferenceGain = 3.875f;

// Identity of the simulated camera in its version record.
constexpr uint32_t kFirmwareVersion = 0x0112;
constexpr uint32_t kFpgaVersion = 0x0105;
constexpr uint32_t kApiVersion = 0x0200;
constexpr uint32_t kDriverVersion = 0x0100;

// Frames the stream may fall behind its schedule and still deliver.
constexpr int kMaxBacklogFrames = 8;

constexpr int kCounterHighByte = 0;
constexpr int kCounterLowByte = 1;

bool IsGainProperty(uint32_t property) {
    return property >= kPropGain && property <= kPropGainGreen2;
}

} // namespace

SimCameraDevice::SimCameraDevice(uint32_t serialNumber) : m_serialNumber(serialNumber) {}

SimCameraDevice::~SimCameraDevice() {
    Close();
}

void SimCameraDevice::ResetToPowerOn() {
    m_format = FrameFormat{0, 0, kSensorWidth, kSensorHeight, kPixelFormatBayerRggb8};
    m_frameRate = kDefaultFrameRate;
    m_exposureMs = kDefaultExposureMs;
    m_gains.fill(kDefaultGain);
    m_distinctValue = 0.0f;
    m_distinctFlags = 0;
    m_gpoMask = 0;
    m_gpoValues = 0;
    m_callbacks = CallbackList{};
    m_streaming = false;
    m_quit = false;
    ++m_settingsGeneration;
}

bool SimCameraDevice::Open() {
    std::lock_guard openClose(m_openCloseMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_open) {
            return false;
        }
    }
    // The picture and the frame buffer are made once; the thread does not run yet.
    if (!m_scene) {
        m_scene = std::make_unique<SimScene>();
        m_frame.assign(size_t{kSensorWidth} * kSensorHeight, 0);
    }
    std::lock_guard lock(m_mutex);
    ResetToPowerOn();
    m_epoch = Clock::now();
    m_open = true;
    m_thread = std::thread(&SimCameraDevice::Run, this);
    // Named, so that a long test can give the "sensor" the priority real hardware has.
    pthread_setname_np(m_thread.native_handle(), "quillon-simcam");
    return true;
}

bool SimCameraDevice::Close() {
    {
        std::lock_guard lock(m_mutex);
        if (OnStreamingThread()) {
            return false; // a callback cannot wait for its own thread to end
        }
    }
    std::lock_guard openClose(m_openCloseMutex);
    std::unique_lock lock(m_mutex);
    if (!m_open) {
        return false;
    }
    m_quit = true;
    m_streaming = false;
    m_open = false;
    m_wake.notify_all();
    lock.unlock();
    m_thread.join();
    return true;
}

bool SimCameraDevice::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool SimCameraDevice::SetProperty(uint32_t property, float value, uint32_t flags) {
    std::lock_guard lock(m_mutex);
    if (!m_open) {
        return false;
    }
    if (property == kPropExposure) {
        if (!(value >= kMinExposureMs && value <= kMaxExposureMs)) {
            return false;
        }
        m_exposureMs = value;
        ++m_settingsGeneration;
        return true;
    }
    if (IsGainProperty(property)) {
        if (!(value >= kMinGain && value <= kMaxGain)) {
            return false;
        }
        m_gains[property - kPropGain] = value;
        ++m_settingsGeneration;
        return true;
    }
    if (property == kPropDistinctFirstBytes) {
        // The frame counter is always written; the setting is only kept for reading back.
        m_distinctValue = value;
        m_distinctFlags = flags;
        return true;
    }
    return false; // unknown or read-only (sensor size)
}

bool SimCameraDevice::GetProperty(uint32_t property, float& value, uint32_t& flags) const {
    std::lock_guard lock(m_mutex);
    if (!m_open) {
        return false;
    }
    flags = 0;
    if (property == kPropExposure) {
        value = m_exposureMs;
    } else if (IsGainProperty(property)) {
        value = m_gains[property - kPropGain];
    } else if (property == kPropMaxWidth) {
        value = static_cast<float>(kSensorWidth);
    } else if (property == kPropMaxHeight) {
        value = static_cast<float>(kSensorHeight);
    } else if (property == kPropDistinctFirstBytes) {
        value = m_distinctValue;
        flags = m_distinctFlags;
    } else {
        return false;
    }
    return true;
}

void SimCameraDevice::DrawFrameNumberStrip(uint16_t number, uint32_t width, uint32_t height,
                                           uint8_t* frame) {
    if (width < kStripLeft + kStripBits * kStripBlock || height < kStripTop + kStripBlock)
        return;
    for (uint32_t row = kStripTop; row < kStripTop + kStripBlock; ++row) {
        uint8_t* line = frame + size_t{row} * width + kStripLeft;
        for (uint32_t bit = 0; bit < kStripBits; ++bit) {
            const bool set = (number >> (kStripBits - 1 - bit)) & 1u;
            std::fill_n(line + bit * kStripBlock, kStripBlock, set ? uint8_t{255} : uint8_t{0});
        }
    }
}

uint16_t SimCameraDevice::ReadFrameNumberStrip(const uint8_t* frame, uint32_t width,
                                               uint32_t height) {
    if (width < kStripLeft + kStripBits * kStripBlock || height < kStripTop + kStripBlock)
        return 0;
    const uint8_t* centre = frame + size_t{kStripTop + kStripBlock / 2} * width + kStripLeft;
    uint16_t number = 0;
    for (uint32_t bit = 0; bit < kStripBits; ++bit)
        number = static_cast<uint16_t>(number << 1 | (centre[bit * kStripBlock + 2] >= 128));
    return number;
}

bool SimCameraDevice::GetFormat(FrameFormat& format, float& frameRate) const {
    std::lock_guard lock(m_mutex);
    if (!m_open) {
        return false;
    }
    format = m_format;
    frameRate = m_frameRate;
    return true;
}

bool SimCameraDevice::FormatFits(const FrameFormat& f) const {
    // Even offsets keep red at (0, 0) of the region.
    return f.pixelFormat == kPixelFormatBayerRggb8 && f.subSampleX == 1 && f.subSampleY == 1 &&
           f.xOffset % 2 == 0 && f.yOffset % 2 == 0 && f.width >= kMinRegionSide &&
           f.height >= kMinRegionSide && f.width <= kSensorWidth && f.height <= kSensorHeight &&
           f.xOffset <= kSensorWidth - f.width && f.yOffset <= kSensorHeight - f.height;
}

bool SimCameraDevice::SetFormat(const FrameFormat& format, float frameRate) {
    std::lock_guard lock(m_mutex);
    // Like real cameras it keeps its format while acquiring.
    if (!m_open || m_streaming || !FormatFits(format) || !(frameRate > 0.0f) ||
        !std::isfinite(frameRate)) {
        return false;
    }
    m_format = format;
    m_frameRate = SnapFrameRate(frameRate);
    ++m_settingsGeneration;
    return true;
}

float SimCameraDevice::SnapFrameRate(float requested) {
    float best = kFrameRates.front();
    for (float rate : kFrameRates) {
        if (std::fabs(rate - requested) < std::fabs(best - requested)) {
            best = rate;
        }
    }
    return best;
}

bool SimCameraDevice::Stream(StreamMode mode) {
    std::unique_lock lock(m_mutex);
    if (!m_open) {
        return false;
    }
    if (mode == StreamMode::kStart) {
        m_streaming = true;
        m_wake.notify_all();
        return true;
    }
    if (mode == StreamMode::kStop) {
        m_streaming = false;
        m_wake.notify_all();
        WaitUntilIdle(lock);
        return true;
    }
    return false;
}

void SimCameraDevice::WaitUntilIdle(std::unique_lock<std::mutex>& lock) {
    if (!OnStreamingThread()) {
        m_idle.wait(lock, [this] { return !m_delivering; });
    }
}

int32_t SimCameraDevice::AddCallback(StreamingCallback callback, void* context) {
    std::lock_guard lock(m_mutex);
    if (!m_open || callback == nullptr) {
        return kNoCallbackId;
    }
    for (size_t i = 0; i < m_callbacks.size(); ++i) {
        if (m_callbacks[i].callback == nullptr) {
            m_callbacks[i] = CallbackSlot{callback, context};
            return static_cast<int32_t>(i);
        }
    }
    return kNoCallbackId;
}

bool SimCameraDevice::RemoveCallback(int32_t callbackId) {
    std::unique_lock lock(m_mutex);
    if (!m_open || callbackId < 0 || static_cast<size_t>(callbackId) >= m_callbacks.size() ||
        m_callbacks[callbackId].callback == nullptr) {
        return false;
    }
    m_callbacks[callbackId] = CallbackSlot{};
    WaitUntilIdle(lock);
    return true;
}

uint32_t SimCameraDevice::FrameRates(uint32_t count, float* rates) const {
    if (!IsOpen()) {
        return 0;
    }
    if (rates != nullptr) {
        std::copy_n(kFrameRates.begin(), std::min<size_t>(count, kFrameRates.size()), rates);
    }
    return static_cast<uint32_t>(kFrameRates.size());
}

bool SimCameraDevice::QueryVersion(VersionInfo& version) const {
    if (!IsOpen()) {
        return false;
    }
    version =
        VersionInfo{kFirmwareVersion, kFpgaVersion, kApiVersion, kDriverVersion, m_serialNumber, 0};
    return true;
}

bool SimCameraDevice::OneShotWhiteBalance(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    std::unique_lock lock(m_mutex);
    const FrameFormat region = m_format;
    if (!m_open || width == 0 || height == 0 || x >= region.width || y >= region.height ||
        width > region.width - x || height > region.height - y) {
        return false;
    }
    lock.unlock();
    // The area's mean light in each plane, with the colour gains as they are now, decides the
    // new gains: every plane is brought to the greens' mean level.
    const SimScene::PlaneFactors mean =
        m_scene->MeanReflectance(region.xOffset + x, region.yOffset + y, width, height);
    lock.lock();
    const std::array<int, SimScene::kPlaneCount> gainOfPlane{kGainRed, kGainGreen1, kGainGreen2,
                                                             kGainBlue};
    const float greenLevel = (mean[SimScene::kPlaneGreen1] * m_gains[kGainGreen1] +
                              mean[SimScene::kPlaneGreen2] * m_gains[kGainGreen2]) /
                             2.0f;
    std::array<float, SimScene::kPlaneCount> balanced{};
    float highest = 0.0f;
    for (size_t plane = 0; plane < balanced.size(); ++plane) {
        if (mean[plane] <= 0.0f || greenLevel <= 0.0f) {
            return false; // a black area gives nothing to balance on
        }
        balanced[plane] = greenLevel / mean[plane];
        highest = std::max(highest, balanced[plane]);
    }
    const float scale = highest > kMaxGain ? kMaxGain / highest : 1.0f;
    for (size_t plane = 0; plane < balanced.size(); ++plane) {
        m_gains[gainOfPlane[plane]] = std::clamp(balanced[plane] * scale, kMinGain, kMaxGain);
    }
    ++m_settingsGeneration;
    return true;
}

bool SimCameraDevice::GpoSelect(uint8_t outputMask) {
    std::lock_guard lock(m_mutex);
    if (!m_open) {
        return false;
    }
    m_gpoMask = outputMask;
    return true;
}

bool SimCameraDevice::GpioWrite(uint8_t outputValues) {
    std::lock_guard lock(m_mutex);
    if (!m_open) {
        return false;
    }
    m_gpoValues = outputValues & m_gpoMask;
    return true;
}

SimScene::PlaneFactors SimCameraDevice::PlaneFactorsLocked() const {
    const float light = m_exposureMs / kReferenceExposureMs * m_gains[kGainMaster] /
                        (kReferenceGain * kReferenceGain);
    return SimScene::PlaneFactors{light * m_gains[kGainRed], light * m_gains[kGainGreen1],
                                  light * m_gains[kGainGreen2], light * m_gains[kGainBlue]};
}

void SimCameraDevice::Run() {
    std::unique_lock lock(m_mutex);
    Clock::time_point next = Clock::now();
    uint16_t frameNumber = 0; // the frame's slot in the schedule, dropped frames counted
    while (!m_quit) {
        if (!m_streaming) {
            m_wake.wait(lock, [this] { return m_quit || m_streaming; });
            next = Clock::now();
            continue;
        }
        // Absolute deadlines keep the rate exact however long each frame takes.
        if (m_wake.wait_until(lock, next, [this] { return m_quit || !m_streaming; })) {
            continue;
        }
        const Clock::time_point frameTime = next;
        DeliverFrame(lock, frameTime, ++frameNumber);
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / m_frameRate));
        next += period;
        // A short delay (the thread was not scheduled in time) is caught up frame by frame, as
        // a driver does from its few queued buffers; after a longer stall the missed frames
        // are dropped instead of coming in a burst.
        const Clock::time_point now = Clock::now();
        if (next + kMaxBacklogFrames * period < now) {
            frameNumber += static_cast<uint16_t>((now - next) / period);
            next = now;
        }
    }
}

void SimCameraDevice::DeliverFrame(std::unique_lock<std::mutex>& lock, Clock::time_point frameTime,
                                   uint16_t frameNumber) {
    const bool prepare = m_preparedGeneration != m_settingsGeneration;
    m_preparedGeneration = m_settingsGeneration;
    const FrameFormat format = m_format;
    const SimScene::PlaneFactors factors = PlaneFactorsLocked();
    const CallbackList callbacks = m_callbacks;
    const double seconds = std::chrono::duration<double>(frameTime - m_epoch).count();
    m_delivering = true;
    lock.unlock();

    if (prepare) {
        m_scene->Prepare(format, factors);
    }
    m_scene->Render(seconds, m_frame.data());
    DrawFrameNumberStrip(frameNumber, format.width, format.height, m_frame.data());
    ++m_frameCounter;
    m_frame[kCounterHighByte] = static_cast<uint8_t>(m_frameCounter >> 8);
    m_frame[kCounterLowByte] = static_cast<uint8_t>(m_frameCounter & 0xFF);
    const uint32_t length = format.width * format.height;
    for (const CallbackSlot& slot : callbacks) {
        if (slot.callback != nullptr) {
            slot.callback(slot.context, m_frame.data(), length);
        }
    }

    lock.lock();
    m_delivering = false;
    m_idle.notify_all();
}

} // namespace quillon
