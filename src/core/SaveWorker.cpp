#include "SaveWorker.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace quillon {
namespace {

bool Before(uint32_t a, uint32_t b) {
    return int32_t(a - b) < 0;
}

} // namespace

SaveWorker::SaveWorker(FrameRing& ring, Recording& recording, const RecordingFormat& format,
                       RawConverter convert, FailureReport failed)
    : m_ring(ring), m_recording(recording), m_format(format),
      m_images(format.rawFrames ? 0 : format.rawWidth, format.rawFrames ? 0 : format.rawHeight,
               format.pixelFormat, std::move(convert)),
      m_failed(std::move(failed)) {
    if (!m_format.rawFrames && !m_images.IsReady())
        return;
    if (m_format.everyFrame) {
        // Every frame from the first one the ring keeps on.
        m_cursor = m_ring.Head();
        m_ring.HoldFrom(m_cursor);
        m_writing.store(true, std::memory_order_release);
    }
    m_thread = std::thread([this] { Run(); });
    pthread_setname_np(m_thread.native_handle(), "quillon-save");
}

SaveWorker::~SaveWorker() {
    Finish();
}

void SaveWorker::Post(Command command) {
    {
        std::lock_guard lock(m_mutex);
        if (command.kind == Command::kOpen)
            m_writing.store(true, std::memory_order_release);
        // The worker takes the queue between frames, so only a recording stuck in one write
        // for dozens of arrivals fills it; the last entry then takes the newest news.
        if (m_commandCount < kMaxCommands) {
            m_commands[m_commandCount++] = command;
            m_commandsPosted.fetch_add(1, std::memory_order_release);
        } else {
            m_commands[kMaxCommands - 1] = command;
        }
        m_commandsPending.store(true, std::memory_order_release);
    }
    m_wake.Signal();
}

void SaveWorker::OpenArrival(uint32_t start) {
    if (m_format.everyFrame)
        return;
    Post({Command::kOpen, start, 0});
}

void SaveWorker::CloseArrival(uint32_t end) {
    if (m_format.everyFrame)
        return;
    Post({Command::kClose, end, 0});
}

void SaveWorker::Finish() {
    if (!m_thread.joinable())
        return;
    Post({Command::kFinish, 0, m_ring.Head()});
    m_thread.join();
    m_ring.HoldNothing();
    m_writing.store(false, std::memory_order_release);
}

void SaveWorker::Run() {
    // A little above normal where the system allows it, so writing keeps up with the camera;
    // without the right to raise it the thread simply runs at normal priority.
    [[maybe_unused]] const int raised = setpriority(PRIO_PROCESS, ::gettid(), -2);
    for (;;) {
        m_wake.Wait();
        TakeCommands();
        WriteAvailable();
        if (m_finishing &&
            (m_cursor >= m_finishHead || !m_writing.load(std::memory_order_relaxed))) {
            return;
        }
    }
}

void SaveWorker::TakeCommands() {
    std::array<Command, kMaxCommands> commands;
    size_t count = 0;
    {
        std::lock_guard lock(m_mutex);
        count = m_commandCount;
        std::copy_n(m_commands.begin(), count, commands.begin());
        m_commandCount = 0;
        m_commandsPending.store(false, std::memory_order_relaxed);
    }
    for (size_t i = 0; i < count; ++i) {
        const Command& c = commands[i];
        if (c.kind == Command::kOpen)
            Open(c.time);
        if (c.kind == Command::kClose)
            Close(c.time);
        if (c.kind == Command::kFinish) {
            m_finishing = true;
            m_finishHead = c.head;
        }
        m_commandsTaken.fetch_add(1, std::memory_order_release);
    }
}

void SaveWorker::Open(uint32_t start) {
    const std::optional<uint32_t> after =
        m_anyWritten ? std::optional<uint32_t>(m_lastTime) : std::nullopt;
    if (m_windowCount == 0) {
        // Not writing: the window may reach back into the buffered frames. Hold them first,
        // then look for the one nearest the window's start; when the window reaches past the
        // oldest, that is the oldest.
        const uint64_t oldest = m_ring.HoldOldest();
        const uint64_t head = m_ring.Head();
        const std::optional<uint64_t> nearest = m_ring.FindNearest(oldest, head, start, after);
        m_cursor = nearest.value_or(head);
        m_ring.HoldFrom(m_cursor);
        if (nearest && Before(m_ring.At(*nearest).time, start))
            start = m_ring.At(*nearest).time;
    } else {
        // Writing an earlier window: this one starts at the kept frame nearest its start
        // among those not written yet.
        const std::optional<uint64_t> nearest =
            m_ring.FindNearest(m_cursor, m_ring.Head(), start, after);
        if (nearest && Before(m_ring.At(*nearest).time, start))
            start = m_ring.At(*nearest).time;
    }
    if (m_windowCount == kMaxWindows) {
        // The same merge as for commands: the two oldest windows become one.
        m_windows[0].end = m_windows[1].end;
        m_windows[0].closed = m_windows[1].closed;
        for (size_t i = 1; i + 1 < m_windowCount; ++i)
            m_windows[i] = m_windows[i + 1];
        --m_windowCount;
    }
    m_windows[m_windowCount++] = {start, 0, false};
    m_writing.store(true, std::memory_order_release);
}

void SaveWorker::Close(uint32_t end) {
    // A later end (the host moved it on) extends the window while it is still being written.
    if (m_windowCount == 0)
        return;
    m_windows[m_windowCount - 1].end = end;
    m_windows[m_windowCount - 1].closed = true;
}

bool SaveWorker::InWindow(uint32_t time) {
    // Windows that ended before this frame are done.
    while (m_windowCount > 0 && m_windows[0].closed && Before(m_windows[0].end, time)) {
        for (size_t i = 0; i + 1 < m_windowCount; ++i)
            m_windows[i] = m_windows[i + 1];
        --m_windowCount;
    }
    return m_windowCount > 0 && !Before(time, m_windows[0].start);
}

void SaveWorker::WriteAvailable() {
    const uint64_t head = m_ring.Head();
    while (m_cursor < head && (m_format.everyFrame || m_windowCount > 0)) {
        // Arrivals that come while a long run is written are taken between frames.
        if (m_commandsPending.load(std::memory_order_acquire))
            TakeCommands();
        const FrameSlot& slot = m_ring.At(m_cursor);
        if (m_format.everyFrame || InWindow(slot.time))
            Write(slot);
        MoveOn();
    }
    if (!m_format.everyFrame && m_windowCount == 0) {
        m_ring.HoldNothing();
        // Not while an arrival waits in the queue: it is being written already.
        std::lock_guard lock(m_mutex);
        if (m_commandCount == 0)
            m_writing.store(false, std::memory_order_release);
    }
}

void SaveWorker::MoveOn() {
    ++m_cursor;
    m_ring.HoldFrom(m_cursor); // the frame is done with: the producer may reuse its slot
}

void SaveWorker::Write(const FrameSlot& slot) {
    // Every-frame recordings carry no race times; the others rise strictly, so a frame whose
    // time is not above the last one written is left out.
    uint32_t time = 0;
    if (!m_format.everyFrame) {
        if (m_anyWritten && !Before(m_lastTime, slot.time))
            return;
        time = slot.time;
    }
    const uint8_t* data = slot.data;
    if (!m_format.rawFrames)
        data = m_images.Make(slot.data, slot.adjustment);
    if (data == nullptr)
        return;
    m_recording.WriteFrame(m_format.Width(), m_format.Height(), data, m_format.BitsPerPixel(), time,
                           slot.sequence);
    m_lastTime = slot.time;
    m_anyWritten = true;
    m_framesWritten.fetch_add(1, std::memory_order_relaxed);
    if (!m_reportedFailure && m_recording.HasFailed()) {
        m_reportedFailure = true;
        if (m_failed)
            m_failed(m_recording.LastError());
    }
}

} // namespace quillon
