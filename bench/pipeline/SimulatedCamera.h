#pragma once

#include "RecorderEngine.h"

namespace quillon {

// Brings an engine's simulated camera up as a first start would (800 x 400 centred on the
// sensor, default gains) at `fps`. False when it does not stream. Afterwards the camera
// settings hold the rate the camera really runs at.
inline bool StartSimulatedCamera(RecorderEngine& engine, float fps) {
    if (!engine.AllocateFrameStores() || engine.StartCamera("sim") != CameraStartResult::kStreaming) {
        return false;
    }
    CameraSettings& camera = engine.Camera();
    camera = CameraSettings{};
    camera.Width = 800;
    camera.Height = 400;
    camera.XOffset = 624;
    camera.YOffset = 568;
    camera.Framerate = fps;
    camera.AutoCorrection = 0;
    engine.ApplyCameraSettings();
    return true;
}

}  // namespace quillon
