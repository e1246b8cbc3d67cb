#pragma once

#include "camera/CameraApi.h"
#include "camera/SimCameraDevice.h"

#include <memory>
#include <vector>

namespace quillon {

// The simulated camera backend ("--camera sim"): one or more SimCameraDevice behind the camera
// API. Camera n (counting from 1) has the serial number kFirstSerialNumber + n - 1 and, while
// open, the handle kFirstHandle + n - 1.
class SimCameraApi final : public ICameraApi {
public:
    static constexpr uint32_t kFirstSerialNumber = 21000512;
    static constexpr CameraHandle kFirstHandle = 0x5100;

    explicit SimCameraApi(uint32_t cameraCount = 1);
    ~SimCameraApi() override;

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
    bool DisplayPropertyPage(CameraHandle handle, void* parentWindow) override;
    bool GpoSelect(CameraHandle handle, uint8_t outputMask) override;
    bool GpioWrite(CameraHandle handle, uint8_t outputValues) override;

private:
    // The device of an open handle, else null.
    SimCameraDevice* Device(CameraHandle handle);

    // Made at construction and never changed, so lookups need no lock.
    std::vector<std::unique_ptr<SimCameraDevice>> m_devices;
};

} // namespace quillon
