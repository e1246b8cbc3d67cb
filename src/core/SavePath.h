#pragma once

#include <functional>
#include <memory>
#include <string>

#include "FrameImage.h"
#include "FrameIntake.h"
#include "FrameRing.h"
#include "RaceHooks.h"
#include "RaceStateMachine.h"
#include "Recording.h"
#include "RecordingFiles.h"
#include "SaveWorker.h"

namespace quillon {

struct AppSettings;
struct CameraSettings;

// What the save path needs from outside the core: the recording folder, the host's addresses,
// a way to make recordings, the camera's frame conversion, and where failures go.
struct SavePathServices {
    // The local folder of the share "QuillonFiles", or empty.
    std::function<std::string()> findLocalShare;
    // The connection's local address, for the FILENAME reply.
    std::function<std::string()> localAddress;
    // The connected host's address, for its share; and how a file is made on that share.
    std::function<std::string()> hostAddress;
    std::function<bool(const std::string& path, std::string& error)> createRemoteFile;
    // A new recording at `path`; kind by extension.
    std::function<std::unique_ptr<Recording>(const std::string& path, uint32_t rate, uint32_t width,
                                             uint32_t height, bool everyFrame)>
        createRecording;
    // The camera's conversion to 24 bits, for the recordings that keep the shown image.
    RawConverter convert;
    // A recording stopped writing (full disk, lost share), with its path and the reason.
    // Called on the save worker's thread.
    std::function<void(const std::string& path, const std::string& reason)> recordingFailed;
    // Greys or enables the window's set-up commands (Preferences, Camera Properties, Refresh).
    std::function<void(bool enabled)> enableSetupCommands;
};

// The save path: READY prepares a recording with its ring and save worker and arms the frame
// intake; ARRIVAL and ENDARRIVAL give the worker its windows; IDLE ends the recording.
//
// The road of a frame: camera thread -> FrameIntake -> FrameRing -> SaveWorker -> recording.
// Threads: this class runs on the user-interface thread. It never writes a frame itself; the
// recording belongs to the worker while the worker lives, and is deleted only after it ended.
class SavePath final : public RecordingSteps {
public:
    static constexpr const char* kShareName = RecordingFiles::kShareName;
    static constexpr const char* kShareErrorText =
        "ERROR~Cannot find the QuillonFiles folder, or access is denied.";

    SavePath(RaceStateMachine& race, ReplySink& link, const TickSource& ticks,
             const AppSettings& app, const CameraSettings& camera, FrameIntake& intake,
             SavePathServices services);
    ~SavePath() override;

    // RecordingSteps
    bool HasRecorder() const override { return m_pRecorder != nullptr; }
    bool IsEveryFrame() const override { return m_pRecorder && m_pRecorder->IsEveryFrame(); }
    void StopSaveWorker() override;
    void DeleteRecorder() override;
    void PrepareRecording() override;
    void StartSavePass() override;
    void ArrivalClosed() override;

    // Makes a new empty ring of `length` records (preferences); between races it takes effect
    // at once, during one at the next READY.
    void RebuildRing(int32_t length);

    const std::string& FileName() const { return m_strFileName; }
    const Recording* Recorder() const { return m_pRecorder.get(); }
    const FrameRing& Ring() const { return m_ring; }
    bool IsSaving() const { return m_worker && m_worker->IsWriting(); }
    uint64_t FramesWritten() const { return m_worker ? m_worker->FramesWritten() : 0; }
    bool HasTakenArrivals() const { return !m_worker || m_worker->HasTakenArrivals(); }
    // Frames of a race that could not be kept (ring full of needed frames, wrong size).
    uint64_t LostFrames() const { return m_ring.TotalLosses() + m_intake.MissedWhileArming(); }

    // Ends the worker once it has written what the open windows hold of the frames kept so
    // far, so the recording is complete.
    void FinishPass();

private:
    RecordingFormat FormatForRecording() const;
    bool EnsureRing(size_t frameBytes);
    void StartWorker();

    RaceStateMachine& m_race;
    ReplySink& m_link;
    const TickSource& m_ticks;
    const AppSettings& m_app;
    const CameraSettings& m_camera;
    FrameIntake& m_intake;
    SavePathServices m_services;
    RecordingFiles m_files; // names and places the recording file

    FrameRing m_ring;
    RecordingFormat m_format;
    std::unique_ptr<Recording> m_pRecorder;
    std::unique_ptr<SaveWorker> m_worker;
    std::string m_strFileName;
};

} // namespace quillon
