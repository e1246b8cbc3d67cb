#pragma once

#include "camera/CameraApi.h"

#include <string>

namespace quillon {

// Real GenICam cameras through Aravis ("--camera aravis" or "aravis:DEVICE-ID").
// NOT CONNECTED YET: this backend does not talk to Aravis so far; it reports no camera, so the
// recorder shows "Unable to connect to camera" and ends. Every other call fails.
class AravisCameraApi final : public ICameraApi {
public:
    // An empty device id means the first camera Aravis finds.
    explicit AravisCameraApi(std::string deviceId = {});

    const std::string& DeviceId() const { return m_deviceId; }

    int32_t NumCameras() override { return 0; }
    CameraHandle CameraOpen(uint32_t) override { return kNoCameraHandle; }
    bool CameraClose(CameraHandle) override { return false; }
    bool SetProperty(CameraHandle, uint32_t, float, uint32_t) override { return false; }
    bool GetProperty(CameraHandle, uint32_t, float&, uint32_t&) override { return false; }
    bool GetFormat(CameraHandle, FrameFormat&, float&) override { return false; }
    bool SetFormat(CameraHandle, const FrameFormat&, float) override { return false; }
    bool StreamVideoControl(CameraHandle, StreamMode) override { return false; }
    int32_t AddStreamingCallback(CameraHandle, StreamingCallback, void*) override {
        return kNoCallbackId;
    }
    bool RemoveStreamingCallback(CameraHandle, int32_t) override { return false; }
    bool ConvertFrameToRgb24(CameraHandle, uint8_t*, const uint8_t*, uint32_t, uint32_t, uint32_t,
                             const ConversionParams&) override {
        return false;
    }
    uint32_t EnumAvailableFrameRates(CameraHandle, uint32_t, float*) override { return 0; }
    bool QueryVersion(CameraHandle, VersionInfo&) override { return false; }
    bool OneShotAutoWhiteBalance(CameraHandle, uint32_t, uint32_t, uint32_t, uint32_t) override {
        return false;
    }
    bool DisplayPropertyPage(CameraHandle, void*) override { return false; }
    bool GpoSelect(CameraHandle, uint8_t) override { return false; }
    bool GpioWrite(CameraHandle, uint8_t) override { return false; }

private:
    std::string m_deviceId;
};

} // namespace quillon
