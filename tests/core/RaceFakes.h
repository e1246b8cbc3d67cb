#pragma once

#include <string>
#include <vector>

#include "core/RaceStateMachine.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {

// A race whose link, recording steps and window are fakes that note what the race did to them.
struct RaceFakes : ReplySink, RecordingSteps, RaceView {
    std::vector<std::string> replies, shownTimes;
    bool connected = false, hasRecorder = false, everyFrame = false;
    int stops = 0, deletes = 0, passes = 0;
    bool enabled[3] = {true, true, true}; // by RaceButton
    void SendReply(std::string_view text) override { replies.emplace_back(text); }
    bool IsHostConnected() const override { return connected; }
    bool HasRecorder() const override { return hasRecorder; }
    bool IsEveryFrame() const override { return everyFrame; }
    void StopSaveWorker() override { ++stops; }
    void DeleteRecorder() override { ++deletes, hasRecorder = false; }
    void PrepareRecording() override {
        hasRecorder = true;
        SendReply("FILENAME~L~127.0.0.1~QUILLON1.vlv@");
    }
    void StartSavePass() override { ++passes; }
    void ShowElapsedTime(const std::string& text) override { shownTimes.push_back(text); }
    void EnableRaceButton(RaceButton b, bool on) override { enabled[int(b)] = on; }

    ManualTickSource ticks{5000};
    AppSettings app;
    CameraSettings camera{.Framerate = 25.0f};
    RaceStateMachine race{*this, *this, ticks, app, camera};
};

} // namespace quillon
