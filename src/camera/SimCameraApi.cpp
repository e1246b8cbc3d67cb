#include "camera/SimCameraApi.h"

#include "camera/BayerConversion.h"

namespace quillon {

SimCameraApi::SimCameraApi(uint32_t cameraCount) {
    for (uint32_t i = 0; i < cameraCount; ++i) {
        m_devices.push_back(std::make_unique<SimCameraDevice>(kFirstSerialNumber + i));
    }
}

SimCameraApi::~SimCameraApi() = default;

SimCameraDevice* SimCameraApi::Device(CameraHandle handle) {
    if (handle < kFirstHandle || handle - kFirstHandle >= m_devices.size()) {
        return nullptr;
    }
    SimCameraDevice* device = m_devices[handle - kFirstHandle].get();
    return device->IsOpen() ? device : nullptr;
}

int32_t SimCameraApi::NumCameras() {
    return static_cast<int32_t>(m_devices.size());
}

CameraHandle SimCameraApi::CameraOpen(uint32_t index) {
    if (index < 1 || index > m_devices.size() || !m_devices[index - 1]->Open()) {
        return kNoCameraHandle;
    }
    return kFirstHandle + (index - 1);
}

bool SimCameraApi::CameraClose(CameraHandle handle) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->Close();
}

bool SimCameraApi::SetProperty(CameraHandle handle, uint32_t property, float value,
                               uint32_t flags) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->SetProperty(property, value, flags);
}

bool SimCameraApi::GetProperty(CameraHandle handle, uint32_t property, float& value,
                               uint32_t& flags) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->GetProperty(property, value, flags);
}

bool SimCameraApi::GetFormat(CameraHandle handle, FrameFormat& format, float& frameRate) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->GetFormat(format, frameRate);
}

bool SimCameraApi::SetFormat(CameraHandle handle, const FrameFormat& format, float frameRate) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->SetFormat(format, frameRate);
}

bool SimCameraApi::StreamVideoControl(CameraHandle handle, StreamMode mode) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->Stream(mode);
}

int32_t SimCameraApi::AddStreamingCallback(CameraHandle handle, StreamingCallback callback,
                                           void* context) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr ? device->AddCallback(callback, context) : kNoCallbackId;
}

bool SimCameraApi::RemoveStreamingCallback(CameraHandle handle, int32_t callbackId) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->RemoveCallback(callbackId);
}

bool SimCameraApi::ConvertFrameToRgb24(CameraHandle handle, uint8_t* dest, const uint8_t* source,
                                       uint32_t width, uint32_t height, uint32_t pixelFormat,
                                       const ConversionParams& params) {
    return Device(handle) != nullptr &&
           ConvertRawFrameToBgr24(source, width, height, pixelFormat, params, dest);
}

uint32_t SimCameraApi::EnumAvailableFrameRates(CameraHandle handle, uint32_t count, float* rates) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr ? device->FrameRates(count, rates) : 0;
}

bool SimCameraApi::QueryVersion(CameraHandle handle, VersionInfo& version) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->QueryVersion(version);
}

bool SimCameraApi::OneShotAutoWhiteBalance(CameraHandle handle, uint32_t startX, uint32_t startY,
                                           uint32_t width, uint32_t height) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->OneShotWhiteBalance(startX, startY, width, height);
}

bool SimCameraApi::DisplayPropertyPage(CameraHandle /*handle*/, void* /*parentWindow*/) {
    return false; // the simulated camera has no settings page of its own
}

bool SimCameraApi::GpoSelect(CameraHandle handle, uint8_t outputMask) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->GpoSelect(outputMask);
}

bool SimCameraApi::GpioWrite(CameraHandle handle, uint8_t outputValues) {
    SimCameraDevice* device = Device(handle);
    return device != nullptr && device->GpioWrite(outputValues);
}

} // namespace quillon
