#include "SavePath.h"

#include <algorithm>
#include <cmath>

#include "FramePipeline.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {

SavePath::SavePath(RaceStateMachine& race, ReplySink& link, const TickSource& ticks,
                   const AppSettings& app, const CameraSettings& camera, FrameIntake& intake,
                   SavePathServices services)
    : m_race(race), m_link(link), m_ticks(ticks), m_app(app), m_camera(camera), m_intake(intake),
      m_services(std::move(services)),
      m_files({m_services.findLocalShare, m_services.localAddress, m_services.hostAddress,
               m_services.createRemoteFile}) {}

SavePath::~SavePath() {
    FinishPass();
    m_pRecorder.reset(); // finishes the file
}

// ---- READY ---------------------------------------------------------------------------------

void SavePath::PrepareRecording() {
    if (m_services.enableSetupCommands)
        m_services.enableSetupCommands(false);
    const bool remote = m_app.Directory == 1 && m_link.IsHostConnected();
    const RecordingPlace place = m_files.Choose(m_ticks.Now(), m_app.Filetype, remote);
    m_strFileName = place.fileName;
    const std::string& path = place.path;
    m_link.SendReply(place.reply);
    // Whatever happens next, the previous race's recording is complete and closed: frames of
    // the new race must never go into it.
    FinishPass();
    std::string error;
    if (path.empty() || !m_files.CreateEmptyFile(path, error)) {
        m_link.SendReply(kShareErrorText);
        m_pRecorder.reset();
        return;
    }
    const RecordingFormat format = FormatForRecording();
    const uint32_t rate = std::max<uint32_t>(1, uint32_t(std::max(0.0f, m_camera.Framerate)));
    std::unique_ptr<Recording> next =
        m_services.createRecording(path, rate, format.Width(), format.Height(), format.everyFrame);
    // The ring keeps raw frames for every kind; without it nothing could be recorded, so the
    // host is told, and no recording is kept that would never get a frame.
    if (!next || !next->IsOpen() || !EnsureRing(format.RawBytes())) {
        m_link.SendReply(kShareErrorText);
        m_pRecorder.reset();
        return;
    }
    m_pRecorder = std::move(next); // the previous one is deleted here, finishing its file
    m_format = format;
    StartWorker();
}

RecordingFormat SavePath::FormatForRecording() const {
    RecordingFormat format;
    format.rawWidth = m_camera.Width;
    format.rawHeight = m_camera.Height;
    format.pixelFormat = m_camera.PixelFormat;
    format.reduction = uint8_t(ReductionOf(m_camera));
    format.everyFrame = m_app.Filetype == kFileWmvAll;
    // The own container holds raw camera frames, the other kinds the 24-bit image as shown.
    format.rawFrames =
        m_app.Filetype != kFileAvi && m_app.Filetype != kFileWmv && !format.everyFrame;
    return format;
}

bool SavePath::EnsureRing(size_t frameBytes) {
    // Only while no worker runs and the intake is disarmed: nobody else looks at the ring now.
    // The last race's frames go: their times belong to another race clock.
    const int32_t length = m_app.BufferLenght;
    if (m_ring.Length() == length && m_ring.FrameBytes() == frameBytes) {
        m_ring.Clear();
        return true;
    }
    return m_ring.Create(length, frameBytes);
}

void SavePath::StartWorker() {
    const std::string path = m_pRecorder->Path();
    m_worker = std::make_unique<SaveWorker>(m_ring, *m_pRecorder, m_format, m_services.convert,
                                            [this, path](const std::string& reason) {
                                                if (m_services.recordingFailed)
                                                    m_services.recordingFailed(path, reason);
                                            });
    if (!m_worker->IsReady()) {
        m_worker.reset();
        return;
    }
    m_intake.Arm(m_ring, m_format.RawBytes(), m_format.reduction, m_worker->Wake());
}

void SavePath::RebuildRing(int32_t length) {
    if (m_worker)
        return; // a recording uses the ring: the new length comes with the next READY
    // Made for the camera's current frames, so the next READY finds it ready.
    m_ring.Create(length, size_t(m_camera.Width) * m_camera.Height);
}

// ---- ARRIVAL -------------------------------------------------------------------------------

void SavePath::StartSavePass() {
    if (!m_worker)
        return; // nothing to write into
    m_worker->OpenArrival(m_race.ArrivalTime() - m_race.BeforeWindowMs());
}

void SavePath::ArrivalClosed() {
    if (m_worker)
        m_worker->CloseArrival(m_race.ArrivalEndTime());
}

// ---- IDLE ----------------------------------------------------------------------------------

void SavePath::FinishPass() {
    m_intake.Disarm();
    if (m_worker)
        m_worker->Finish();
    m_worker.reset();
}

void SavePath::StopSaveWorker() {
    FinishPass();
}

void SavePath::DeleteRecorder() {
    FinishPass();
    m_pRecorder.reset();
}

} // namespace quillon
