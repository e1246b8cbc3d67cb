#include "camera/CameraApiFactory.h"

#include "camera/AravisCameraApi.h"
#include "camera/SimCameraApi.h"

namespace quillon {

namespace {

constexpr char kSimName[] = "sim";
constexpr char kAravisName[] = "aravis";
constexpr char kAravisPrefix[] = "aravis:";

} // namespace

std::optional<CameraOption> ParseCameraOption(const std::string& option) {
    if (option.empty() || option == kAravisName) {
        return CameraOption{CameraBackend::kAravis, {}};
    }
    if (option == kSimName) {
        return CameraOption{CameraBackend::kSim, {}};
    }
    const std::string prefix = kAravisPrefix;
    if (option.size() > prefix.size() && option.compare(0, prefix.size(), prefix) == 0) {
        return CameraOption{CameraBackend::kAravis, option.substr(prefix.size())};
    }
    return std::nullopt;
}

std::unique_ptr<ICameraApi> CreateCameraApi(const std::string& option) {
    const std::optional<CameraOption> parsed = ParseCameraOption(option);
    if (!parsed) {
        return nullptr;
    }
    if (parsed->backend == CameraBackend::kSim) {
        return std::make_unique<SimCameraApi>();
    }
    return std::make_unique<AravisCameraApi>(parsed->deviceId);
}

} // namespace quillon
