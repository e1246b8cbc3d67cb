#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// The camera maker's API as the recorder uses it: a handle-based set of calls that one backend
// (simulated camera, Aravis) implements. CCamera and the camera properties dialog only talk to
// this interface. Every call may be made from any thread unless noted; backends serialise them.

// 0 means "no camera"; backends hand out non-zero handles from CameraOpen.
using CameraHandle = uint32_t;
inline constexpr CameraHandle kNoCameraHandle = 0;

// Property numbers of SetProperty/GetProperty.
enum CameraProperty : uint32_t {
    kPropExposure = 20, // milliseconds
    kPropGain = 40,     // master gain, plain factor
    kPropGainRed = 41,
    kPropGainBlue = 42,
    kPropGainGreen1 = 43,
    kPropGainGreen2 = 44,
    kPropMaxWidth = 81,  // sensor width in pixels, read-only
    kPropMaxHeight = 82, // sensor height in pixels, read-only
    // With kFlagDistinctFirstBytes the camera makes the first two bytes of every new frame differ
    // from those of the frame before, which lets the frame callback drop repeated deliveries.
    kPropDistinctFirstBytes = 105,
};

inline constexpr uint32_t kFlagDistinctFirstBytes = 0x80000000u;

// Pixel format codes of FrameFormat::pixelFormat and ConvertFrameToRgb24.
enum PixelFormat : uint32_t {
    kPixelFormatBayerRggb8 = 0, // 8-bit raw, red at (0, 0) of the region
    kPixelFormatMono8 = 1,      // 8-bit grey
};

// The camera's frame format record. The first five fields map one to one to the first five
// fields of CameraSettings; the subsampling fields are passed back to SetFormat as read.
struct FrameFormat {
    uint32_t xOffset = 0;
    uint32_t yOffset = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelFormat = kPixelFormatBayerRggb8;
    uint16_t subSampleX = 1;
    uint16_t flagsX = 0;
    uint16_t subSampleY = 1;
    uint16_t flagsY = 0;
};

// The version record of QueryVersion; the serial number is its fifth field.
struct VersionInfo {
    uint32_t firmware = 0;
    uint32_t fpga = 0;
    uint32_t api = 0;
    uint32_t driver = 0;
    uint32_t serialNumber = 0;
    uint32_t reserved = 0;
};

// How ConvertFrameToRgb24 works; only bilinear demosaicing without colour correction exists.
inline constexpr uint32_t kDemosaicBilinear = 1;
inline constexpr uint32_t kColourCorrectionNone = 0;
struct ConversionParams {
    uint32_t demosaicMethod = kDemosaicBilinear;
    uint32_t correctionMatrix = kColourCorrectionNone;
};

enum class StreamMode : uint32_t {
    kStop = 0,
    kStart = 1,
};

// Called on the camera's own streaming thread for every frame: `data` holds `length` bytes of
// the raw frame (width x height bytes for 8-bit formats) and may be changed in place; it stays
// valid only until the callback returns.
using StreamingCallback = void (*)(void* context, uint8_t* data, uint32_t length);
inline constexpr int32_t kNoCallbackId = -1;

class ICameraApi {
public:
    virtual ~ICameraApi() = default;

    // Number of cameras present; 0 or less means none.
    virtual int32_t NumCameras() = 0;
    // Opens camera `index` (counting from 1); returns kNoCameraHandle on failure.
    virtual CameraHandle CameraOpen(uint32_t index) = 0;
    // Stops streaming, removes the callbacks and closes the camera.
    virtual bool CameraClose(CameraHandle handle) = 0;

    virtual bool SetProperty(CameraHandle handle, uint32_t property, float value,
                             uint32_t flags) = 0;
    virtual bool GetProperty(CameraHandle handle, uint32_t property, float& value,
                             uint32_t& flags) = 0;

    // Current frame format and frame rate (frames per second).
    virtual bool GetFormat(CameraHandle handle, FrameFormat& format, float& frameRate) = 0;
    // Sets format and frame rate; the camera picks the nearest rate it offers. Cameras refuse
    // this while streaming.
    virtual bool SetFormat(CameraHandle handle, const FrameFormat& format, float frameRate) = 0;

    // Stopping returns only after the last callback of the stream has returned (unless called
    // from inside a callback).
    virtual bool StreamVideoControl(CameraHandle handle, StreamMode mode) = 0;

    // Returns the callback's number, or kNoCallbackId on failure.
    virtual int32_t AddStreamingCallback(CameraHandle handle, StreamingCallback callback,
                                         void* context) = 0;
    // After it returns, the callback is not running and will not be called again.
    virtual bool RemoveStreamingCallback(CameraHandle handle, int32_t callbackId) = 0;

    // Converts one raw frame to width x height pixels of 3 bytes in blue, green, red order.
    virtual bool ConvertFrameToRgb24(CameraHandle handle, uint8_t* dest, const uint8_t* source,
                                     uint32_t width, uint32_t height, uint32_t pixelFormat,
                                     const ConversionParams& params) = 0;

    // With count 0 (rates may be null) returns how many rates there are; otherwise fills up to
    // `count` rates in the camera's order and returns how many there are. 0 on failure.
    virtual uint32_t EnumAvailableFrameRates(CameraHandle handle, uint32_t count, float* rates) = 0;

    virtual bool QueryVersion(CameraHandle handle, VersionInfo& version) = 0;

    // Sets the colour gains so that the given area of the current image (region coordinates)
    // comes out grey.
    virtual bool OneShotAutoWhiteBalance(CameraHandle handle, uint32_t startX, uint32_t startY,
                                         uint32_t width, uint32_t height) = 0;

    // The backend's own settings page, modal; false when the backend has none.
    virtual bool DisplayPropertyPage(CameraHandle handle, void* parentWindow) = 0;

    // General-purpose outputs: select which outputs are driven, then drive them.
    virtual bool GpoSelect(CameraHandle handle, uint8_t outputMask) = 0;
    virtual bool GpioWrite(CameraHandle handle, uint8_t outputValues) = 0;

    // Beyond the maker's API, for cameras on a cable or a network. These three may be called
    // from any thread and never wait for the camera.
    // The serial number as the camera gives it (it may hold letters); false when there is none
    // beyond VersionInfo's number.
    virtual bool QuerySerialNumber(CameraHandle /*handle*/, std::string& /*serial*/) {
        return false;
    }
    // Frames the camera sent but that never reached the callback (incomplete or failed
    // transfers, frames it skipped) and frames missing while the camera was gone.
    virtual uint64_t LostFrames(CameraHandle /*handle*/) { return 0; }
    // True while an open camera does not answer; the backend opens it again on its own.
    virtual bool IsCameraLost(CameraHandle /*handle*/) { return false; }
};

} // namespace quillon
