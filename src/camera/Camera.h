#pragma once

#include "camera/CameraApi.h"
#include "camera/CameraRegion.h"
#include "settings/CameraSettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quillon {

// Operator messages of the camera (shown in a message box with an OK button).
inline constexpr char kMsgUnableToConnect[] = "Unable to connect to camera";
inline constexpr char kMsgUnableToAddCallback[] = "Unable to add callback function to camera";
inline constexpr char kMsgUnableToStartStreaming[] = "Unable to start streaming from camera";
inline constexpr char kMsgUnableToSetFormat[] = "Unable to set current format.";
inline constexpr char kMsgUnableToSetExposure[] = "Unable to set current exposure.";

// Region and exposure the recorder starts with when there is no settings file yet.
inline constexpr uint32_t kFirstRunWidth = 800;
inline constexpr uint32_t kFirstRunHeight = 400;
inline constexpr float kFirstRunExposureMs = 10.0f;

// How far StartCamera got.
enum class CameraStartResult {
    kNotConnected, // no camera could be opened: the recorder ends
    kClosedAgain,  // opened, but callback or streaming refused: closed, the recorder runs on
    kStreaming,
};

// The recorder's only way to the camera: opens the first camera of a camera API, registers the
// frame callback, streams, applies and reads back CameraSettings, converts raw frames to 24-bit
// colour and reads sensor size, gains, frame rates and serial number.
//
// Threads: every call runs on the user-interface thread; only the registered frame callback
// runs on the camera's streaming thread. `busy` is atomic because the frame handler may be
// asked about it from anywhere; it is a flag, not a lock: ApplySettings and ConvertToRgb24
// refuse to start while it is set. Operator messages go to the message sink, on the calling
// thread; the main window connects it to a message box (a box that runs an event loop may let
// the frame handler in while `busy` is set, which then skips the frame).
class CCamera {
public:
    using MessageSink = std::function<void(const std::string& text)>;

    // Takes the camera API of the chosen backend, which must not be null (CreateCameraApi gives
    // null for an option it does not understand: report that before making the camera).
    // Without a sink, messages go to stderr.
    explicit CCamera(std::unique_ptr<ICameraApi> api, MessageSink sink = {});
    // Stops the stream, so that no callback outlives its context, then releases the API.
    virtual ~CCamera();
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    void SetMessageSink(MessageSink sink);

    // Start-up: OpenCamera, AddFrameCallback, StartStreaming, with their messages; the camera
    // is closed again when callback or streaming is refused.
    CameraStartResult StartCamera(StreamingCallback callback, void* context);

    bool OpenCamera();
    bool CloseCamera();
    bool AddFrameCallback(StreamingCallback callback, void* context);
    bool StartStreaming();
    // Returns once no frame callback runs any more; for an orderly shutdown.
    bool StopStreaming();

    // Copies the camera's region, pixel format, frame rate and exposure into `settings`;
    // leaves it untouched on failure.
    bool ReadFormat(CameraSettings& settings);
    // Stops the stream, sets format, frame rate and exposure, restarts the stream, then sends
    // the five gains. True if the camera streams again afterwards.
    bool ApplySettings(const CameraSettings& settings);
    // Raw frame to width x height pixels of blue, green, red; false without a camera or while
    // busy.
    bool ConvertToRgb24(uint8_t* dest, const uint8_t* source, uint32_t width, uint32_t height,
                        uint32_t pixelFormat);
    // The same conversion without the busy guard, for the save worker: the camera's conversion
    // only reads the frame and the camera's colour state, so it may run beside the preview's.
    // Any thread, while the camera is open (it is closed only after the worker has ended).
    bool ConvertFrame(uint8_t* dest, const uint8_t* source, uint32_t width, uint32_t height,
                      uint32_t pixelFormat);

    void ShowVendorPropertyPage(void* parentWindow, CameraSettings& settings);

    uint32_t FrameRateCount();
    void ListFrameRates(std::span<float> rates);
    float MaxWidth();
    float MaxHeight();
    // Gains in thousandths; an output whose read fails is left as it was.
    void ReadGains(int32_t& gain, int32_t& red, int32_t& green1, int32_t& green2, int32_t& blue);
    std::string SerialNumberText();

    // First start without settings file: the camera's own format and exposure, then an
    // 800 x 400 region centred on the sensor at 10 ms. False (record untouched) without camera.
    bool FillFirstRunSettings(CameraSettings& settings);

    // One press of a position button: ReadFormat, move, ApplySettings; on failure the button's
    // message and nullopt, else ReadFormat and the buttons to enable or disable.
    std::optional<RegionButtons> MoveRegion(RegionMove move, CameraSettings& settings);

    // Frames the camera lost before they reached the frame callback (incomplete transfers,
    // frames it skipped, frames missing while it was gone); 0 without a camera.
    uint64_t LostFrames();
    // True while the open camera does not answer; its backend opens it again on its own.
    bool IsCameraLost();

    bool IsBusy() const { return m_busy.load(std::memory_order_acquire); }
    bool HasCamera() const { return m_handle != kNoCameraHandle; }
    // For the calls the camera properties dialog makes itself (exposure, gains, white balance).
    CameraHandle Handle() const { return m_handle; }
    ICameraApi& Api() { return *m_api; }

private:
    void Message(const std::string& text) const;
    bool ReadProperty(uint32_t property, float& value);
    void SendGains(const CameraSettings& settings);
    bool Reconfigure(const CameraSettings& settings);

    std::unique_ptr<ICameraApi> m_api;
    MessageSink m_sink;
    CameraHandle m_handle = kNoCameraHandle; // user-interface thread
    std::atomic<bool> m_busy{false};
};

} // namespace quillon
