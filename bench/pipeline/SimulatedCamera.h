#pragma once

#include "RecorderEngine.h"

namespace quillon {

// Brings an engine's simulated camera up as a first start would (a region centred on the
// sensor, 800 x 400 unless told, default gains) at `fps`. False when it does not stream.
// Afterwards the camera settings hold the rate the camera really runs at.
inline bool StartSimulatedCamera(RecorderEngine& engine, float fps, uint32_t width = 800,
                                 uint32_t height = 400) {
    if (!engine.AllocateFrameStores() ||
        engine.StartCamera("sim") != CameraStartResult::kStreaming) {
        return false;
    }
    CameraSettings& camera = engine.Camera();
    camera = CameraSettings{};
    camera.Width = width;
    camera.Height = height;
    camera.XOffset = (2048 - width) / 2 / 8 * 8;
    camera.YOffset = (1536 - height) / 2 / 8 * 8;
    camera.Framerate = fps;
    camera.AutoCorrection = 0;
    engine.ApplyCameraSettings();
    return true;
}

} // namespace quillon
