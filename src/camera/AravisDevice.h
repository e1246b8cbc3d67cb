#pragma once

#include "camera/AravisFrameDelivery.h"
#include "camera/BayerConversion.h"
#include "camera/CameraApi.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvStream ArvStream;

namespace quillon {

// A camera as Aravis lists it.
struct AravisDeviceInfo {
    std::string id;
    std::string vendor;
    std::string model;
    std::string serial;
    std::string protocol;
    std::string address;
};

// Asks every Aravis interface (GigE Vision, USB3 Vision) which cameras answer now.
std::vector<AravisDeviceInfo> ListAravisDevices();

// One open GenICam camera: the camera API's calls mapped to its features, and its stream.
// It does not reconnect; AravisCameraApi replaces a lost one with a new one.
//
// Threads: not thread-safe; AravisCameraApi serialises every call. The stream calls the frame
// delivery on Aravis's stream thread. The control-lost flag is set on Aravis's heartbeat thread.
class AravisDevice {
public:
    // Opens the camera with this Aravis id (an empty id opens the first one); null on failure,
    // with the reason in `error`.
    static std::unique_ptr<AravisDevice> Open(const std::string& id, AravisFrameDelivery& delivery,
                                              std::string& error);
    ~AravisDevice();
    AravisDevice(const AravisDevice&) = delete;
    AravisDevice& operator=(const AravisDevice&) = delete;

    const std::string& Id() const { return m_id; }
    std::string SerialNumber();
    bool ControlLost() const { return m_controlLost->load(std::memory_order_acquire); }
    // The camera is known to be gone: closing it then skips the calls that would only time out.
    void MarkLost();

    // Region and pixel format (0: the camera's 8-bit Bayer format, 1: Mono8) and frame rate.
    // Sizes and offsets are rounded down to what the camera accepts; rates clamped to its
    // bounds. Width, height and pixel format only change while the stream is stopped.
    bool GetFormat(FrameFormat& format, float& frameRate);
    bool SetFormat(const FrameFormat& format, float frameRate);
    // The Bayer tile of the current format, or nullopt for grey frames.
    std::optional<BayerPattern> Pattern() const { return m_pattern; }

    bool GetExposureMs(float& exposureMs);
    bool SetExposureMs(float exposureMs);
    // Gains by property number (40 master, 41 red, 42 blue, 43 and 44 green) as plain factors.
    bool GetGain(uint32_t property, float& factor);
    bool SetGain(uint32_t property, float factor);
    // False when the camera has no colour gains of its own (the backend then applies them).
    bool HasChannelGains() const { return !m_balanceRatio.empty(); }
    float SensorWidth() const { return m_sensorWidth; }
    float SensorHeight() const { return m_sensorHeight; }
    std::vector<float> FrameRates();
    // BalanceWhiteAuto=Once; false when the camera has no such feature.
    bool WhiteBalanceOnce();
    // General-purpose outputs through LineSelector/LineMode/UserOutputValue; false when the
    // camera offers none.
    bool SelectOutputs(uint8_t mask);
    bool WriteOutputs(uint8_t mask, uint8_t values);

    // A stream with buffers for a quarter of a second at the current rate; frames go to the
    // delivery. Stopping returns after the stream's last callback.
    bool StartStream();
    void StopStream();
    bool Streaming() const { return m_stream != nullptr; }

private:
    struct StreamContext;

    // Takes `controlLost` over; it goes with the camera object.
    AravisDevice(ArvCamera* camera, std::atomic<bool>* controlLost, AravisFrameDelivery& delivery);
    void ReadCapabilities();
    bool Feature(const char* name);
    bool SetRegion(const FrameFormat& format);
    bool SetPixelFormatCode(uint32_t code);
    bool SelectChannel(uint32_t property);

    ArvCamera* m_camera = nullptr;
    AravisFrameDelivery& m_delivery;
    std::string m_id;
    // Set by Aravis's heartbeat thread. It lives with the camera object, not with us: a lost
    // camera is let go on a thread of its own, and its heartbeat may still report meanwhile.
    std::atomic<bool>* m_controlLost = nullptr;

    // What the camera offers, read once at open.
    bool m_gainInDb = false;    // Gain (dB), else GainRaw
    std::string m_balanceRatio; // BalanceRatio or BalanceRatioAbs, empty if none
    int64_t m_bayerFormat = 0;  // its 8-bit Bayer format, 0 when it has none
    float m_sensorWidth = 0.0f;
    float m_sensorHeight = 0.0f;
    std::optional<BayerPattern> m_pattern;

    ArvStream* m_stream = nullptr;
    std::unique_ptr<StreamContext> m_streamContext;
};

} // namespace quillon
