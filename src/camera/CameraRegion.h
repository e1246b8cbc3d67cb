#pragma once

#include "settings/CameraSettings.h"

#include <cstdint>
#include <optional>

namespace quillon {

// Rules for placing the region of interest on the sensor: centring (first start, size changes,
// the centre button) and the four move buttons, which step by 8 pixels.

inline constexpr uint32_t kRegionStep = 8;

// Half of the spare room, rounded down to a multiple of 8, in unsigned arithmetic on the
// truncated sensor size: 800 on 2048 gives 624. A region larger than the sensor gets 0.
uint32_t CentredOffset(float sensorSize, uint32_t regionSize);

enum class RegionMove { kLeft, kRight, kUp, kDown, kCentre };

// Changes XOffset/YOffset for one button press, before the settings are applied. Left and up
// stop at 0.
void ShiftRegion(RegionMove move, float maxWidth, float maxHeight, CameraSettings& settings);

// Which position buttons a successful move enables (true) or disables (false); buttons the move
// does not decide about stay as they are (nullopt).
struct RegionButtons {
    std::optional<bool> left;
    std::optional<bool> right;
    std::optional<bool> up;
    std::optional<bool> down;
};
RegionButtons ButtonsAfterMove(RegionMove move, float maxWidth, float maxHeight,
                               const CameraSettings& settings);

// The operator message when applying a move fails.
const char* RegionMoveFailureText(RegionMove move);

} // namespace quillon
