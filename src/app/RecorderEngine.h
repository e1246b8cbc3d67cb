#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "core/Event.h"
#include "core/FrameStores.h"
#include "core/RaceHooks.h"
#include "core/RaceStateMachine.h"
#include "core/TickSource.h"
#include "hostlink/HostLink.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {

// What the engine shows beyond the race controls: the host's connection state.
class EngineView : public RaceView {
public:
    virtual void ShowHostStatus(const std::string& status, bool hostConnected) {
        (void)status;
        (void)hostConnected;
    }
};

// The recorder without its window: settings, frame stores, race state and clock, host link and
// save path, wired together. The main window owns one and forwards to it; tests drive it
// directly with a QCoreApplication and no display.
//
// Threads: lives on the user-interface thread. RequestTimeFromAnyThread() is the one entry
// that other threads (the camera's) may call.
class RecorderEngine final : public QObject, public ReplySink, public RecordingSteps {
    Q_OBJECT

public:
    static constexpr const char* kNoHostText = "No Velmar connected";
    static constexpr const char* kShareErrorText =
        "ERROR~Cannot find the QuillonFiles folder, or access is denied.";

    explicit RecorderEngine(const TickSource& ticks, QObject* parent = nullptr);
    ~RecorderEngine() override;

    void SetView(EngineView* view);

    // Allocates the frame stores; false when the memory could not be had.
    bool AllocateFrameStores() { return m_stores.Allocate(); }

    // Listens on the configured port or the next free one; the port found goes into the
    // settings. False when no port was free.
    bool StartListening();

    // Asks the host for its race time; safe from any thread (the request is sent on the
    // user-interface thread).
    void RequestTimeFromAnyThread();

    RaceStateMachine& Race() { return m_race; }
    HostLink& Link() { return m_link; }
    AppSettings& App() { return m_app; }
    CameraSettings& Camera() { return m_camera; }
    FrameStores& Stores() { return m_stores; }
    SaveEvents& Events() { return m_events; }
    const std::string& Status() const { return m_strStatus; }
    const std::string& FileName() const { return m_strFileName; }

    // ReplySink
    void SendReply(std::string_view text) override { m_link.SendReply(text); }
    bool IsHostConnected() const override { return m_link.IsConnected(); }

    // RecordingSteps: the recording itself arrives with the save path; until then READY
    // names the file and tells the host, and there is never a recorder.
    bool HasRecorder() const override { return false; }
    bool IsEveryFrame() const override { return false; }
    void StopSaveWorker() override {}
    void DeleteRecorder() override {}
    void PrepareRecording() override;
    void StartSavePass() override {}

private:
    void OnHostConnected();
    void OnHostDisconnected();
    std::string RecordingFileName() const;

    const TickSource& m_ticks;
    AppSettings m_app;
    CameraSettings m_camera;
    FrameStores m_stores;
    SaveEvents m_events;
    RaceStateMachine m_race;
    HostLink m_link;
    EngineView m_noView;
    EngineView* m_view = &m_noView;

    std::string m_strFileName;
    std::string m_strStatus = kNoHostText;
};

}  // namespace quillon
