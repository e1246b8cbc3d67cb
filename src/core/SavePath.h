#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Event.h"
#include "FrameRing.h"
#include "RaceHooks.h"
#include "RaceStateMachine.h"
#include "RecordingFiles.h"
#include "Recording.h"
#include "SaveWorker.h"

namespace quillon {

struct AppSettings;
struct CameraSettings;

// What the save path needs from outside the core: the recording folder, the host's addresses,
// a way to make recordings and to run a call on the user-interface thread.
struct SavePathServices {
    // The local folder of the share "QuillonFiles", or empty.
    std::function<std::string()> findLocalShare;
    // The connection's local address, for the FILENAME reply.
    std::function<std::string()> localAddress;
    // The connected host's address, for its share; and how a file is made on that share.
    std::function<std::string()> hostAddress;
    std::function<bool(const std::string& path, std::string& error)> createRemoteFile;
    // A new recording at `path`; kind by extension.
    std::function<std::unique_ptr<Recording>(const std::string& path, uint32_t rate,
                                             uint32_t width, uint32_t height, bool everyFrame)>
        createRecording;
    // Runs `call` later on the user-interface thread; safe from any thread.
    std::function<void(std::function<void()> call)> postToUi;
    // Greys or enables the window's set-up commands (Preferences, Camera Properties, Refresh).
    std::function<void(bool enabled)> enableSetupCommands;
};

// The save path: READY prepares a recording, the frame intake keeps frames in the ring while a
// race runs, ARRIVAL starts a pass of the save worker over the kept frames, frames of an open
// arrival go to the recording as they come, IDLE ends the recording.
//
// Threads: everything here runs on the user-interface thread, except the pass, which runs on
// the save worker and shares only the ring (slot states) and the job's end index with it. The
// recording is handed over: the worker uses it only while a pass runs (`m_bSaving`), the
// user-interface thread only otherwise. It is never replaced or deleted while a pass writes.
class SavePath final : public RecordingSteps {
public:
    static constexpr const char* kShareName = RecordingFiles::kShareName;
    // Larger steps back of the race clock are not smoothed over.
    static constexpr int32_t kMaxClockStepBackMs = 500;
    static constexpr const char* kShareErrorText =
        "ERROR~Cannot find the QuillonFiles folder, or access is denied.";

    SavePath(RaceStateMachine& race, ReplySink& link, const TickSource& ticks,
             const AppSettings& app, const CameraSettings& camera, SaveEvents& events,
             SavePathServices services);
    ~SavePath() override;

    // RecordingSteps
    bool HasRecorder() const override { return m_pRecorder != nullptr; }
    bool IsEveryFrame() const override { return m_pRecorder && m_pRecorder->IsEveryFrame(); }
    void StopSaveWorker() override;
    void DeleteRecorder() override;
    void PrepareRecording() override;
    void StartSavePass() override;

    // Frame intake: a processed frame (raw with its number, and the reduced 24-bit image).
    void TakeFrame(const uint8_t* raw, size_t rawLength, const uint8_t* image,
                   uint32_t imageWidth, uint32_t imageHeight);
    // Makes a new empty ring of `length` records (preferences); the next frame starts at 0.
    void RebuildRing(int32_t length);

    const std::string& FileName() const { return m_strFileName; }
    const Recording* Recorder() const { return m_pRecorder.get(); }
    const FrameRing& Ring() const { return m_ring; }
    bool IsSaving() const { return m_bSaving; }
    int32_t WriteIndex() const { return m_nWriteIndex; }
    // Frames of a race that could not be kept (their slot was still pending, or no ring).
    uint64_t LostFrames() const { return m_lostFrames; }

    // Ends a running pass and writes what it left pending, so the recording is complete.
    void FinishPass();

private:
    struct Frame {
        const uint8_t* data;
        size_t bytes;
        FrameHeader header;
        uint32_t sequence;
    };
    Frame FrameForRecording(const uint8_t* raw, size_t rawLength, const uint8_t* image) const;
    bool InsideArrival(uint32_t raceTime) const;
    uint32_t NextFrameTime();
    void KeepInRing(SlotState state, const Frame& frame, uint32_t time);
    void WriteToRecording(const uint8_t* data, uint32_t time, uint32_t sequence);
    bool AwaitsThePass(int32_t index) const;
    bool EnsureRing(size_t frameBytes);
    void BeginPass();
    int32_t FirstPendingFrom(int32_t start) const;
    // A pass has ended: the next queued pass begins, or the frames it left pending are written.
    void CompletePass();
    void OnSaveDone(uint64_t pass);
    void WritePendingSlots();

    RaceStateMachine& m_race;
    ReplySink& m_link;
    const TickSource& m_ticks;
    const AppSettings& m_app;
    const CameraSettings& m_camera;
    SaveEvents& m_events;
    SavePathServices m_services;
    RecordingFiles m_files;  // names and places the recording file

    FrameRing m_ring;
    int32_t m_ringLength = 0;  // the length asked for; the ring follows it at the next READY
    int32_t m_nWriteIndex = 0;
    bool m_bResetRing = true;
    SaveJob m_job;
    std::unique_ptr<SaveWorker> m_worker;
    std::unique_ptr<Recording> m_pRecorder;
    FrameHeader m_header;  // the geometry the current recording was made with
    bool m_bSaving = false;
    bool m_bArrivalQueued = false;  // an arrival came while a pass ran
    // The time of the last frame the recording got (user-interface thread's copy).
    uint32_t m_lastWrittenTime = 0;
    bool m_bAnyWritten = false;
    uint64_t m_passNumber = 0;  // tells a late "pass done" of an ended pass from the current one
    std::string m_strFileName;
    uint64_t m_lostFrames = 0;
    uint32_t m_lastFrameTime = 0;  // the time given to the last frame of this recording
    bool m_bHaveFrameTime = false;
};

}  // namespace quillon
