#pragma once

#include <string>
#include <string_view>

namespace quillon {

enum class RaceButton { Ready, Start, Arrival };

// Where the race operations' replies go: the host link (TCP or shared memory).
class ReplySink {
public:
    virtual ~ReplySink() = default;
    virtual void SendReply(std::string_view text) = 0;
    // A host connected over TCP.
    virtual bool IsHostConnected() const = 0;
    // The host steers through shared memory instead.
    virtual bool IsSharedMemoryMode() const { return false; }
};

// What the race operations change in the window. All optional, so the core runs without one.
class RaceView {
public:
    virtual ~RaceView() = default;
    virtual void TakeControlValues() {}
    virtual void RefreshControls() {}
    virtual void EnableRaceButton(RaceButton, bool) {}
    virtual void EnableSetupCommands(bool) {} // Refresh button, Preferences, Camera Properties
    virtual void ShowElapsedTime(const std::string&) {}
};

// The save path's steps that READY, ARRIVAL and IDLE take.
class RecordingSteps {
public:
    virtual ~RecordingSteps() = default;
    virtual bool HasRecorder() const = 0;
    virtual bool IsEveryFrame() const = 0;
    virtual void StopSaveWorker() = 0;
    virtual void DeleteRecorder() = 0;
    virtual void PrepareRecording() = 0;
    virtual void StartSavePass() = 0;
    // The open arrival got its end (ArrivalEndTime, the after-window included).
    virtual void ArrivalClosed() {}
};

} // namespace quillon
