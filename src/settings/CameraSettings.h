#pragma once

#include <cstdint>

namespace quillon {

// The camera section of settings.ini. The first five fields follow the camera's frame format
// record, so the camera code copies them one by one. Owned by the main window.
struct CameraSettings {
    uint32_t XOffset = 624;
    uint32_t YOffset = 608;
    uint32_t Width = 600;
    uint32_t Height = 360;
    uint32_t PixelFormat = 0;
    float Exposure = 10.0f; // milliseconds
    float Framerate = 4.0f; // frames per second
    int32_t Sharpen = 1;    // 2 checked, 1 not
    uint32_t Reduction = 1; // 1 full size, 2 every second pixel
    int32_t AutoCorrection = 1;
    uint32_t Gain = 3875; // thousandths
    uint32_t RedGain = 3875;
    uint32_t GreenGain1 = 3875;
    uint32_t GreenGain2 = 3875;
    uint32_t BlueGain = 3875;
    int32_t Brightnes = 0;   // offset -255..255; the key is spelled so in existing files
    int32_t Contrast = 100;  // percent
    int32_t MeanValue = 100; // automatic brightness target, -1 not yet measured
    // Processing time of the last frame in whole ms, -1 before the first; never stored.
    int32_t FrameTimeMs = -1;
};

} // namespace quillon
