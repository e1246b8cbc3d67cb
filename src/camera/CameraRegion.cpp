#include "camera/CameraRegion.h"

namespace quillon {

namespace {

// Region ends past the last sensor pixel; compared in floating point on the unsigned sums.
bool PastRightEdge(float maxWidth, const CameraSettings& s) {
    return maxWidth - 1.0f < static_cast<float>(s.XOffset + s.Width);
}

bool PastBottomEdge(float maxHeight, const CameraSettings& s) {
    return maxHeight - 1.0f < static_cast<float>(s.YOffset + s.Height);
}

uint32_t StepBack(uint32_t offset) {
    return offset >= kRegionStep ? offset - kRegionStep : 0;
}

} // namespace

uint32_t CentredOffset(float sensorSize, uint32_t regionSize) {
    const auto sensor = static_cast<uint32_t>(sensorSize);
    if (regionSize > sensor) {
        return 0;
    }
    return (sensor - regionSize) / (2 * kRegionStep) * kRegionStep;
}

void ShiftRegion(RegionMove move, float maxWidth, float maxHeight, CameraSettings& settings) {
    switch (move) {
    case RegionMove::kLeft:
        settings.XOffset = StepBack(settings.XOffset);
        break;
    case RegionMove::kRight:
        settings.XOffset += kRegionStep;
        break;
    case RegionMove::kUp:
        settings.YOffset = StepBack(settings.YOffset);
        break;
    case RegionMove::kDown:
        settings.YOffset += kRegionStep;
        break;
    case RegionMove::kCentre:
        settings.XOffset = CentredOffset(maxWidth, settings.Width);
        settings.YOffset = CentredOffset(maxHeight, settings.Height);
        break;
    }
}

RegionButtons ButtonsAfterMove(RegionMove move, float maxWidth, float maxHeight,
                               const CameraSettings& settings) {
    RegionButtons buttons;
    switch (move) {
    case RegionMove::kLeft:
        buttons.right = true;
        if (settings.XOffset == 0) {
            buttons.left = false;
        }
        break;
    case RegionMove::kRight:
        buttons.left = true;
        if (PastRightEdge(maxWidth, settings)) {
            buttons.right = false;
        }
        break;
    case RegionMove::kUp:
        buttons.down = true;
        if (settings.YOffset == 0) {
            buttons.up = false;
        }
        break;
    case RegionMove::kDown:
        buttons.up = true;
        if (PastBottomEdge(maxHeight, settings)) {
            buttons.down = false;
        }
        break;
    case RegionMove::kCentre:
        buttons.left = settings.XOffset >= 1;
        buttons.right = !PastRightEdge(maxWidth, settings);
        buttons.up = settings.YOffset >= 1;
        buttons.down = !PastBottomEdge(maxHeight, settings);
        break;
    }
    return buttons;
}

const char* RegionMoveFailureText(RegionMove move) {
    switch (move) {
    case RegionMove::kLeft:
        return "Unable to move camera left";
    case RegionMove::kRight:
        return "Unable to move camera right";
    case RegionMove::kUp:
        return "Unable to move camera up";
    case RegionMove::kDown:
        return "Unable to move camera down";
    case RegionMove::kCentre:
        return "Unable to center camera";
    }
    return "";
}

} // namespace quillon
