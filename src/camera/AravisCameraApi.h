#pragma once

#include "camera/AravisDevice.h"
#include "camera/AravisFrameDelivery.h"
#include "camera/CameraApi.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

// Real GenICam cameras (GigE Vision, USB3 Vision) through Aravis: "--camera aravis" opens the
// first camera Aravis finds, "--camera aravis:ID" the one with that Aravis id (or address).
//
// A camera may vanish mid-race (cable, power, switch). A watchdog thread notices it (Aravis's
// control-lost signal, or no buffer for kSilenceLimit while streaming), closes it, and opens the
// same camera by id every kReopenInterval until it answers; then it applies the settings in
// effect and streams again. Frames missing meanwhile count as lost. The handle stays valid
// throughout; calls that need the camera fail while it is gone.
//
// Threads: the camera API's calls come from the user-interface thread; the watchdog runs on its
// own thread. m_mutex guards the open device and the settings in effect; it is never held
// while a camera is being searched for. Frames run on Aravis's stream thread into
// m_delivery. Conversion, LostFrames and IsCameraLost only read atomics.
class AravisCameraApi final : public ICameraApi {
public:
    static constexpr CameraHandle kHandle = 0xA7A0;
    static constexpr std::chrono::milliseconds kSilenceLimit{2000};
    static constexpr std::chrono::milliseconds kReopenInterval{2000};

    // An empty device id means the first camera Aravis finds.
    explicit AravisCameraApi(std::string deviceId = {});
    ~AravisCameraApi() override;

    const std::string& DeviceId() const { return m_deviceId; }

    int32_t NumCameras() override;
    CameraHandle CameraOpen(uint32_t index) override;
    bool CameraClose(CameraHandle handle) override;
    bool SetProperty(CameraHandle handle, uint32_t property, float value, uint32_t flags) override;
    bool GetProperty(CameraHandle handle, uint32_t property, float& value,
                     uint32_t& flags) override;
    bool GetFormat(CameraHandle handle, FrameFormat& format, float& frameRate) override;
    bool SetFormat(CameraHandle handle, const FrameFormat& format, float frameRate) override;
    bool StreamVideoControl(CameraHandle handle, StreamMode mode) override;
    int32_t AddStreamingCallback(CameraHandle handle, StreamingCallback callback,
                                 void* context) override;
    bool RemoveStreamingCallback(CameraHandle handle, int32_t callbackId) override;
    bool ConvertFrameToRgb24(CameraHandle handle, uint8_t* dest, const uint8_t* source,
                             uint32_t width, uint32_t height, uint32_t pixelFormat,
                             const ConversionParams& params) override;
    uint32_t EnumAvailableFrameRates(CameraHandle handle, uint32_t count, float* rates) override;
    bool QueryVersion(CameraHandle handle, VersionInfo& version) override;
    bool OneShotAutoWhiteBalance(CameraHandle handle, uint32_t startX, uint32_t startY,
                                 uint32_t width, uint32_t height) override;
    // There is no vendor page on Linux: returns at once.
    bool DisplayPropertyPage(CameraHandle handle, void* parentWindow) override;
    bool GpoSelect(CameraHandle handle, uint8_t outputMask) override;
    bool GpioWrite(CameraHandle handle, uint8_t outputValues) override;
    bool QuerySerialNumber(CameraHandle handle, std::string& serial) override;
    uint64_t LostFrames(CameraHandle handle) override;
    bool IsCameraLost(CameraHandle handle) override;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kGainCount = 5; // properties 40 to 44

    // What the recorder set, applied again to a camera that comes back.
    struct SettingsInEffect {
        std::optional<FrameFormat> format;
        float frameRate = 0.0f;
        std::optional<float> exposureMs;
        std::array<std::optional<float>, kGainCount> gains;
        std::optional<uint8_t> outputMask;
        std::optional<uint8_t> outputValues;
        bool streaming = false;
    };

    bool IsOurs(CameraHandle handle) const {
        return handle == kHandle && m_open.load(std::memory_order_acquire);
    }
    bool SetChannelGainLocked(uint32_t property, float factor);
    void UpdateOwnGainsLocked();
    bool RestoreLocked(AravisDevice& device);

    void Watch();
    void Supervise();
    void TakeGreyWorldLocked();
    void Reopen();
    // Frames that would have come since the camera went silent; m_lossMutex held.
    uint64_t MissingSinceLossLocked(Clock::time_point now) const;

    const std::string m_deviceId;
    // The cameras the last search found (user-interface thread): opening takes its camera from
    // here instead of searching again, which takes a second on GigE Vision.
    std::vector<AravisDeviceInfo> m_found;
    AravisFrameDelivery m_delivery;

    std::mutex m_mutex;
    std::unique_ptr<AravisDevice> m_device; // null while closed or lost
    SettingsInEffect m_settings;
    std::string m_openId; // the id the camera was opened with
    std::string m_serial;
    std::atomic<bool> m_open{false};

    // Colour gains the camera cannot apply itself go into our conversion, relative to green.
    std::atomic<bool> m_ownGains{false};
    std::atomic<float> m_ownRed{1.0f};
    std::atomic<float> m_ownBlue{1.0f};

    // Loss: written by the watchdog, read by anyone.
    mutable std::mutex m_lossMutex;
    bool m_lost = false;                 // m_lossMutex
    Clock::time_point m_silentSince;     // m_lossMutex
    float m_lostRate = 0.0f;             // m_lossMutex
    std::atomic<bool> m_lostFlag{false}; // the same as m_lost, without the lock
    Clock::time_point m_nextAttempt;     // watchdog thread

    std::mutex m_watchMutex;
    std::condition_variable m_watchWake;
    bool m_quit = false; // m_watchMutex
    std::thread m_watchdog;
};

} // namespace quillon
