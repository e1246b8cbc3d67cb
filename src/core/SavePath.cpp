#include "SavePath.h"

#include <algorithm>
#include <cmath>

#include "FrameCallback.h"
#include "settings/AppSettings.h"
#include "settings/CameraSettings.h"

namespace quillon {

SavePath::SavePath(RaceStateMachine& race, ReplySink& link, const TickSource& ticks,
                   const AppSettings& app, const CameraSettings& camera, SaveEvents& events,
                   SavePathServices services)
    : m_race(race),
      m_link(link),
      m_ticks(ticks),
      m_app(app),
      m_camera(camera),
      m_events(events),
      m_services(std::move(services)),
      m_files({m_services.findLocalShare, m_services.localAddress, m_services.hostAddress,
               m_services.createRemoteFile}) {
    m_ringLength = app.BufferLenght;
}

SavePath::~SavePath() {
    StopSaveWorker();
    m_pRecorder.reset();  // finishes the file
}

// ---- READY ---------------------------------------------------------------------------------

void SavePath::PrepareRecording() {
    if (m_services.enableSetupCommands) m_services.enableSetupCommands(false);
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
    const uint32_t rate = std::max<uint32_t>(1, uint32_t(std::max(0.0f, m_camera.Framerate)));
    const bool everyFrame = m_app.Filetype == kFileWmvAll;
    // The own container holds raw camera frames, the other kinds the 24-bit image as shown.
    const uint32_t r = std::max<uint32_t>(m_camera.Reduction, 1);
    const bool raw = m_app.Filetype != kFileAvi && m_app.Filetype != kFileWmv && !everyFrame;
    const uint32_t width = raw ? m_camera.Width : m_camera.Width / r;
    const uint32_t height = raw ? m_camera.Height : m_camera.Height / r;
    std::unique_ptr<Recording> next = m_services.createRecording(path, rate, width, height, everyFrame);
    if (!next || !next->IsOpen()) {
        m_link.SendReply(kShareErrorText);
        m_pRecorder.reset();
        return;
    }
    m_pRecorder = std::move(next);  // the previous one is deleted here, finishing its file
    m_bHaveFrameTime = false;
    m_bAnyWritten = false;
    m_header = {width, height, uint16_t(raw ? 8 : 24)};
    const size_t frameBytes = size_t(width) * height * (raw ? 1 : 3);
    if (!EnsureRing(frameBytes)) m_link.SendReply(kShareErrorText);
}

bool SavePath::EnsureRing(size_t frameBytes) {
    // Only between passes (FinishPass ran): nobody else looks at the ring now. The last race's
    // frames go: their times belong to another race clock and must never start a pass.
    m_bResetRing = true;
    if (m_ring.Length() == m_ringLength && m_ring.FrameBytes() == frameBytes) {
        m_ring.Clear();
        return true;
    }
    return m_ring.Create(m_ringLength, frameBytes);
}

void SavePath::RebuildRing(int32_t length) {
    FinishPass();
    m_ringLength = length;
    m_ring.Create(length, m_ring.FrameBytes());
    m_bResetRing = true;
}

// ---- Frame intake --------------------------------------------------------------------------

SavePath::Frame SavePath::FrameForRecording(const uint8_t* raw, size_t rawLength,
                                            const uint8_t* image) const {
    const FrameHeader& h = m_header;
    const uint32_t sequence = ReadSequenceNumber(raw);
    if (h.bitsPerPixel == 24) return {image, size_t(h.width) * h.height * 3, h, sequence};
    return {raw, rawLength, h, sequence};
}

uint32_t SavePath::NextFrameTime() {
    uint32_t t = m_race.CurrentRaceTime();
    // A clock sync may step the race time back by a few milliseconds; the frames of a
    // recording still get strictly rising times, or the pass would have to drop them. A large
    // step back is the host's clock restarting: taken as it is.
    const int32_t step = int32_t(t - m_lastFrameTime);
    if (m_bHaveFrameTime && step <= 0 && step > -kMaxClockStepBackMs) t = m_lastFrameTime + 1;
    m_lastFrameTime = t;
    m_bHaveFrameTime = true;
    return t;
}

bool SavePath::InsideArrival(uint32_t t) const {
    if (m_race.ManualArrival()) return true;
    const uint32_t arrival = m_race.ArrivalTime();
    const uint32_t end = m_race.ArrivalEndTime();
    return !(arrival == 0 || (t > end && end != 0));
}

bool SavePath::AwaitsThePass(int32_t index) const {
    if (!m_bSaving || m_ring.State(index) != kSlotBuffered) return false;
    // Buffered slots from the pass's start up to its end are still to be written.
    const int32_t n = m_ring.Length();
    const int32_t start = m_job.startIndex;
    const int32_t end = m_job.endIndex.load(std::memory_order_relaxed);
    const int32_t offset = (index - start + n) % n;
    return offset < (end - start + n) % n;
}

void SavePath::KeepInRing(SlotState state, const Frame& frame, uint32_t time) {
    // A frame the pass has yet to write is never given up for a newer one: when the ring is
    // full the newest frame is lost, so the recording stays one unbroken run.
    if (m_ring.Length() == 0 || frame.bytes != m_ring.FrameBytes() || AwaitsThePass(m_nWriteIndex) ||
        !m_ring.StoreFrame(state, frame.data, frame.bytes, time, frame.sequence, m_nWriteIndex)) {
        ++m_lostFrames;
        return;
    }
    m_nWriteIndex = (m_nWriteIndex + 1) % m_ring.Length();
}

void SavePath::TakeFrame(const uint8_t* raw, size_t rawLength, const uint8_t* image,
                         uint32_t imageWidth, uint32_t imageHeight) {
    if (m_bResetRing) {
        m_bResetRing = false;
        m_nWriteIndex = 0;
    }
    // Nothing is kept before START, and nothing without a recording to keep it for.
    if (m_race.State() != kStarted || !m_pRecorder) return;
    // The frame must have the geometry the recording was made with.
    const bool keepsImage = m_header.bitsPerPixel == 24;
    if ((keepsImage && (imageWidth != m_header.width || imageHeight != m_header.height)) ||
        (!keepsImage && rawLength != size_t(m_header.width) * m_header.height)) {
        ++m_lostFrames;
        return;
    }
    const Frame frame = FrameForRecording(raw, rawLength, image);
    if (m_pRecorder->IsEveryFrame()) {
        m_pRecorder->WriteFrame(frame.header.width, frame.header.height, frame.data,
                                frame.header.bitsPerPixel, 0, frame.sequence);
        return;
    }
    const uint32_t t = NextFrameTime();
    if (!InsideArrival(t)) {
        KeepInRing(kSlotBuffered, frame, t);
    } else if (!m_bSaving) {
        WriteToRecording(frame.data, t, frame.sequence);
    } else {
        KeepInRing(kSlotPending, frame, t);
    }
}

// ---- Passes --------------------------------------------------------------------------------

void SavePath::StartSavePass() {
    if (!m_pRecorder || m_ring.Length() == 0) return;  // nothing to write into, or from
    if (!m_worker) {
        m_worker = std::make_unique<SaveWorker>(m_job, m_events, [this](int32_t, uint64_t pass) {
            m_services.postToUi([this, pass] { OnSaveDone(pass); });
        });
    }
    if (m_bSaving) {
        // The running pass takes this arrival's frames as they come; its frames from before
        // the arrival get a pass of their own when the running one ends.
        m_bArrivalQueued = true;
        return;
    }
    BeginPass();
}

void SavePath::BeginPass() {
    m_bSaving = true;
    m_job.pass = ++m_passNumber;
    m_job.ring = &m_ring;
    m_job.recorder = m_pRecorder.get();
    m_job.header = m_header;
    m_job.lastTime = m_lastWrittenTime;
    m_job.anyWritten = m_bAnyWritten;
    // Frames the recording already has (an earlier arrival's) are not written twice.
    const uint32_t windowStart = m_race.ArrivalTime() - m_race.BeforeWindowMs();
    const int32_t nearest = m_ring.FindNearestSlot(
        windowStart, m_bAnyWritten ? std::optional<uint32_t>(m_lastWrittenTime) : std::nullopt);
    m_job.startIndex = nearest >= 0 ? nearest : m_nWriteIndex;
    // The pass writes the kept frames up to the arrival's first pending frame (frames of an
    // arrival that opened during an earlier pass), else up to the newest kept frame.
    m_job.endIndex.store(FirstPendingFrom(m_job.startIndex), std::memory_order_relaxed);
    // Idle is cleared here, not only by the worker, so that a wait for the pass's end that
    // follows at once cannot pass before the pass has begun. The go event publishes the job.
    m_events.idle.ResetEvent();
    m_events.go.Set();
}

int32_t SavePath::FirstPendingFrom(int32_t start) const {
    const int32_t n = m_ring.Length();
    for (int32_t step = 0, i = start; step < n && i != m_nWriteIndex; ++step, i = (i + 1) % n) {
        if (m_ring.State(i) == kSlotPending) return i;
    }
    return m_nWriteIndex;
}

void SavePath::CompletePass() {
    m_bSaving = false;
    m_lastWrittenTime = m_job.lastTime;  // the worker's, published by the idle event
    m_bAnyWritten = m_job.anyWritten;
    if (m_bArrivalQueued) {
        m_bArrivalQueued = false;
        BeginPass();  // its pending frames follow its kept ones
        return;
    }
    WritePendingSlots();
}

void SavePath::OnSaveDone(uint64_t pass) {
    // A pass that FinishPass already completed (or an earlier one) has nothing left to do.
    if (!m_bSaving || pass != m_passNumber) return;
    CompletePass();
}

void SavePath::WritePendingSlots() {
    const int32_t n = m_ring.Length();
    if (n == 0) return;
    int32_t i = 0;
    while (i < n && m_ring.State(i) != kSlotPending) ++i;
    if (i == n) return;
    // A pending run that wraps round the end of the ring starts before its end.
    if (i == 0 && m_ring.State(n - 1) == kSlotPending) {
        i = n - 1;
        while (i > 0 && m_ring.State(i - 1) == kSlotPending) --i;
    }
    while (m_ring.ClaimForWriting(i, kSlotPending)) {
        const FrameSlot& slot = m_ring.Slot(i);
        WriteToRecording(slot.data, slot.time, slot.sequence);
        m_ring.MarkWritten(i);
        i = (i + 1) % n;
    }
}

void SavePath::WriteToRecording(const uint8_t* data, uint32_t time, uint32_t sequence) {
    if (!m_pRecorder) return;
    m_pRecorder->WriteFrame(m_header.width, m_header.height, data, m_header.bitsPerPixel, time,
                            sequence);
    m_lastWrittenTime = time;
    m_bAnyWritten = true;
}

void SavePath::FinishPass() {
    while (m_bSaving) {
        m_events.idle.Wait();  // the pass has ended and no longer uses the recording
        CompletePass();
    }
}

// ---- IDLE ----------------------------------------------------------------------------------

void SavePath::StopSaveWorker() {
    FinishPass();
    if (m_worker) m_worker->Stop();
    m_worker.reset();
}

void SavePath::DeleteRecorder() {
    FinishPass();
    m_pRecorder.reset();
}

}  // namespace quillon
