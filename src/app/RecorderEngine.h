#pragma once

#include <QObject>
#include <memory>
#include <string>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include "camera/Camera.h"
#include "core/FrameCallback.h"
#include "core/FrameHandOver.h"
#include "core/FrameIntake.h"
#include "core/FramePipeline.h"
#include "core/FrameStores.h"
#include "core/RaceHooks.h"
#include "core/RaceStateMachine.h"
#include "core/SavePath.h"
#include "core/TickSource.h"
#include "hostlink/HostLink.h"
#include "recording/FrameAdmission.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"
#include "settings/PerformanceLog.h"
#include "shmem/SharedMemoryLink.h"

namespace quillon {

// What the engine shows beyond the race controls: the host's connection state, the frames,
// operator messages.
class EngineView : public RaceView {
public:
    virtual void ShowHostStatus(const std::string& /*status*/, bool /*hostConnected*/) {}
    virtual void ShowFrame(const uint8_t* /*bgr*/, uint32_t /*width*/, uint32_t /*height*/) {}
    virtual void ShowBrightness(int32_t /*brightness*/) {}
    virtual void ShowMessage(const std::string& /*text*/) {}
};

// The recorder without its window: settings, frame stores, race state and clock, host link and
// save path, wired together. The main window owns one and forwards to it; tests drive it
// directly with a QCoreApplication and no display.
//
// Threads: lives on the user-interface thread. The camera thread runs the frame callback (which
// keeps frames for the recording through the intake) and may call RequestTimeFromAnyThread();
// the save worker reports a failed recording through a queued call.
class RecorderEngine final : public QObject,
                             public ReplySink,
                             public RecordingSteps,
                             public FrameOutput,
                             private FrameConverter {
    Q_OBJECT

public:
    static constexpr const char* kNoHostText = "No Velmar connected";
    static constexpr const char* kShareErrorText = SavePath::kShareErrorText;
    // The status text while the camera does not answer; its backend keeps opening it again.
    static constexpr const char* kCameraLostText = "Camera lost - reconnecting";
    static constexpr int kCameraWatchMs = 250;

    explicit RecorderEngine(const TickSource& ticks, QObject* parent = nullptr);
    // The Samba configuration whose share "QuillonFiles" takes local recordings.
    void SetShareConfig(const std::string& smbConf) { m_smbConf = smbConf; }
    ~RecorderEngine() override;

    void SetView(EngineView* view);

    // Allocates the frame stores and sets up the frame path over them; false when the memory
    // could not be had.
    bool AllocateFrameStores();

    // Opens the camera of the program option ("sim", "aravis[:ID]", empty for the first real
    // one), registers the frame callback and starts streaming, with the operator's messages.
    CameraStartResult StartCamera(const std::string& option);
    bool HasCamera() const { return m_device && m_device->HasCamera(); }
    // Loads settings.ini from `path`, or the defaults (with the camera's own first-run values)
    // when it is missing. True when the file was found.
    bool LoadSettings(const std::string& path);
    // Applies the camera settings; true when the camera streams again.
    bool ApplyCameraSettings();
    // Orderly end: stops the stream, reads the camera's format back and, when `save`, writes the
    // settings to `path`.
    void Shutdown(bool save, const std::string& path);

    // Opens the performance log when SavePerformanceLog asks for one; named after the camera
    // settings of the moment, so it comes after they are applied.
    void CreatePerformanceLog(const std::string& directory = PerformanceLog::DefaultDirectory());
    const PerformanceLog& PerfLog() const { return m_perfLog; }
    // Makes a new empty ring of BufferLenght records. Only between races (the set-up commands
    // are greyed from READY to IDLE).
    void RebuildRing() { m_savePath->RebuildRing(m_app.BufferLenght); }

    // Listens on the configured port or the next free one; the port found goes into the
    // settings. False when no port was free.
    bool StartListening();

    // Asks the host for its race time; safe from any thread (the request is sent on the
    // user-interface thread).
    void RequestTimeFromAnyThread();

    RaceStateMachine& Race() { return m_race; }
    HostLink& Link() { return m_link; }
    // Shared memory mode: the host steers through the segment; TCP commands are not read and
    // nothing is sent over TCP. Switching off destroys the segment object.
    void SetSharedMemoryMode(bool on);
    SharedMemoryLink& SharedMemory() { return m_sharedMemory; }
    AppSettings& App() { return m_app; }
    CameraSettings& Camera() { return m_camera; }
    const std::string& Status() const { return m_strStatus; }
    const std::string& FileName() const { return m_savePath->FileName(); }
    SavePath& Saving() { return *m_savePath; }
    FramePipeline* Pipeline() { return m_pipeline.get(); }
    // The camera the dialogs act on; null before StartCamera.
    CCamera* Device() { return m_device.get(); }

    // Frames lost for recording: the ring full of frames still to write, frames of the wrong
    // size, and frames the camera lost (incomplete, or missing while it was gone).
    uint64_t DroppedFrames() const;
    // Frames the preview skipped (it shows the latest frame at most 60 times a second); these
    // are not lost for recording.
    uint64_t PreviewSkips() const;
    uint64_t ProcessedFrames() const { return m_processed; }
    // Frames the camera delivered (repeats not counted).
    uint64_t AcceptedFrames() const {
        return m_frameCallback ? m_frameCallback->SequenceNumber() : 0;
    }

    // ReplySink
    void SendReply(std::string_view text) override { m_link.SendReply(text); }
    bool IsHostConnected() const override { return m_link.IsConnected(); }

    bool IsSharedMemoryMode() const override { return m_link.IsSharedMemoryMode(); }

    // RecordingSteps: the save path's.
    bool HasRecorder() const override { return m_savePath->HasRecorder(); }
    bool IsEveryFrame() const override { return m_savePath->IsEveryFrame(); }
    void StopSaveWorker() override { m_savePath->StopSaveWorker(); }
    void DeleteRecorder() override { m_savePath->DeleteRecorder(); }
    void PrepareRecording() override;
    void StartSavePass() override { m_savePath->StartSavePass(); }
    void ArrivalClosed() override { m_savePath->ArrivalClosed(); }

    // FrameOutput
    void ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) override;
    void ShowBrightness(int32_t brightness) override;

    // The preview shows at most this many frames a second, as a screen does.
    static constexpr int kMaxPreviewRate = 60;

private:
    // FrameConverter over the camera device.
    bool IsBusy() const override { return m_device && m_device->IsBusy(); }
    bool ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t width, uint32_t height,
                        uint32_t pixelFormat) override;
    RawLayout Layout(uint32_t pixelFormat) const override;

    // User-interface thread: a frame was handed over.
    void OnFrameNotice();
    void ProcessLatestFrame();
    // Once a second: the elapsed time, and whether the host's clock still answers.
    void OnSecond();
    // A recording (or READY's file on the share) failed: the operator reads why on the status
    // line and the standard error. Safe from any thread.
    void OnRecordingFailed(const std::string& text);
    void RefreshStatus();
    void OnHostConnected();
    void OnHostDisconnected();
    // Status text: the camera's loss, else the host's connection.
    void OnCameraWatch();

    AppSettings m_app;
    CameraSettings m_camera;
    FrameStores m_stores;
    RaceStateMachine m_race;
    HostLink m_link;
    SharedMemoryLink m_sharedMemory;
    EngineView m_noView;
    EngineView* m_view = &m_noView;

    // Frame path. The camera thread writes to the notice descriptor (an eventfd, so no frame
    // allocates) and the notifier wakes the user-interface thread.
    CameraThreadView m_cameraView;
    std::unique_ptr<FrameHandOver> m_handOver;
    std::unique_ptr<FrameCallback> m_frameCallback;
    std::unique_ptr<FramePipeline> m_pipeline;
    int m_frameNoticeFd = -1;
    std::unique_ptr<QSocketNotifier> m_frameNotifier;
    uint64_t m_processed = 0;
    QElapsedTimer m_sinceLastPreview;
    QTimer m_previewPacer; // single shot: the latest frame when the preview may show it
    QTimer m_secondTimer;
    bool m_rawLayoutKnown = false; // the simulated camera's frames are plain RGGB or grey
    FrameIntake m_intake;
    PerformanceLog m_perfLog;
    QTimer m_perfLogFlush; // writes the log's buffered lines out once a second

    std::string m_smbConf = "/etc/samba/smb.conf";
    std::string m_strStatus = kNoHostText;
    std::string m_hostStatus = kNoHostText;
    bool m_clockSilent = false;
    std::string m_recordingProblem;
    FrameAdmission m_admission; // the recordings', in turn: the last frame number carries over
    QTimer m_cameraWatch;
    bool m_cameraLost = false;
    std::unique_ptr<SavePath> m_savePath;
    // Declared last so it goes first: its stream stops before anything it calls into.
    std::unique_ptr<CCamera> m_device;
};

} // namespace quillon
