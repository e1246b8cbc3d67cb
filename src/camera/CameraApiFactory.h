#pragma once

#include "camera/CameraApi.h"

#include <memory>
#include <optional>
#include <string>

namespace quillon {

enum class CameraBackend {
    kSim,    // the simulated camera
    kAravis, // real cameras through Aravis
};

struct CameraOption {
    CameraBackend backend = CameraBackend::kAravis;
    std::string deviceId; // Aravis device id; empty for the first camera
};

// The program option "--camera NAME": "sim", "aravis" (first camera) or "aravis:DEVICE-ID".
// An empty option means the first real camera. Anything else is not understood (nullopt).
std::optional<CameraOption> ParseCameraOption(const std::string& option);

// The camera API for the option, or null when the option is not understood.
std::unique_ptr<ICameraApi> CreateCameraApi(const std::string& option);

} // namespace quillon
