#include "camera/AravisCameraApi.h"

#include <utility>

namespace quillon {

AravisCameraApi::AravisCameraApi(std::string deviceId) : m_deviceId(std::move(deviceId)) {}

} // namespace quillon
