#include "SaveWorker.h"

#include <sys/resource.h>
#include <unistd.h>

namespace quillon {
namespace {

// Writes slot `index` if it is in state `expected` and its time is newer than `last`; marks it
// written either way. False when the slot was not in that state.
bool WriteSlot(SaveJob& job, int32_t index, uint16_t expected, uint32_t& last, bool& anyWritten) {
    FrameRing& ring = *job.ring;
    if (!ring.ClaimForWriting(index, expected)) return false;
    const FrameSlot& slot = ring.Slot(index);
    if (!anyWritten || slot.time > last) {
        if (job.recorder != nullptr) {
            job.recorder->WriteFrame(job.header.width, job.header.height, slot.data,
                                     job.header.bitsPerPixel, slot.time, slot.sequence);
        }
        last = slot.time;
        anyWritten = true;
    }
    ring.MarkWritten(index);
    return true;
}

}  // namespace

SaveWorker::SaveWorker(SaveJob& job, SaveEvents& events, PassDone passDone)
    : m_job(job), m_events(events), m_passDone(std::move(passDone)) {
    m_events.quit.ResetEvent();
    m_events.done.ResetEvent();
    m_thread = std::thread([this] { Run(); });
}

SaveWorker::~SaveWorker() { Stop(); }

void SaveWorker::Stop() {
    if (!m_thread.joinable()) return;
    m_events.quit.Set();
    m_events.go.Set();
    m_thread.join();
}

int32_t SaveWorker::RunPass(SaveJob& job) {
    const int32_t n = job.ring->Length();
    uint32_t last = job.lastTime;
    bool anyWritten = job.anyWritten;
    int32_t i = job.startIndex;
    // Buffered frames up to where the intake last kept one; the end moves while we write.
    while (i != job.endIndex.load(std::memory_order_acquire)) {
        WriteSlot(job, i, kSlotBuffered, last, anyWritten);
        i = (i + 1) % n;
    }
    // Then the frames of the arrival that came in meanwhile.
    while (WriteSlot(job, i, kSlotPending, last, anyWritten)) i = (i + 1) % n;
    job.lastTime = last;
    job.anyWritten = anyWritten;
    return i;
}

void SaveWorker::Run() {
    // A little above normal where the system allows it, so writing keeps up with the camera;
    // without the right to raise it the thread simply runs at normal priority.
    [[maybe_unused]] const int raised = setpriority(PRIO_PROCESS, ::gettid(), -2);
    m_events.go.Wait();
    while (!m_events.quit.IsSet()) {
        m_events.idle.ResetEvent();
        const uint64_t pass = m_job.pass;  // the job is the owner's again once idle is set
        const int32_t stop = RunPass(m_job);
        m_events.idle.Set();
        if (m_passDone) m_passDone(stop, pass);
        std::this_thread::yield();
        m_events.go.Wait();
    }
    m_events.done.Set();
}

}  // namespace quillon
