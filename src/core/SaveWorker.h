#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

#include "FrameImage.h"
#include "FrameRing.h"
#include "Recording.h"

namespace quillon {

// Wakes a thread that waits for work. Never blocks the side that signals.
class WakeSignal {
public:
    void Signal() {
        // The count only needs to say "look again"; a bounded count is plenty.
        if (m_pending.fetch_add(1, std::memory_order_acq_rel) < kMaxPending)
            m_semaphore.release();
        else
            m_pending.fetch_sub(1, std::memory_order_acq_rel);
    }
    void Wait() {
        m_semaphore.acquire();
        m_pending.fetch_sub(1, std::memory_order_acq_rel);
    }

private:
    static constexpr int32_t kMaxPending = 1 << 20;
    std::atomic<int32_t> m_pending{0};
    std::counting_semaphore<> m_semaphore{0};
};

// What a recording is written as: the raw frame (".vlv") or the 24-bit image of the preview
// (the other kinds), made from the raw frame with the picture settings it was delivered with.
struct RecordingFormat {
    uint32_t rawWidth = 0;
    uint32_t rawHeight = 0;
    uint32_t pixelFormat = 0;
    uint8_t reduction = 1;
    bool rawFrames = true;   // ".vlv": the camera's bytes as they are
    bool everyFrame = false; // every frame of the race, without race times
    uint32_t Width() const { return rawFrames ? rawWidth : rawWidth / reduction; }
    uint32_t Height() const { return rawFrames ? rawHeight : rawHeight / reduction; }
    uint16_t BitsPerPixel() const { return rawFrames ? 8 : 24; }
    size_t RawBytes() const { return size_t(rawWidth) * rawHeight; }
};

// The save worker: the only thread that writes frames into a recording. It follows the ring
// and writes the frames that fall in an arrival's window, from the buffered frame nearest the
// window's start (before the arrival) to the window's end (the after-window), in order, with
// strictly rising race times. An every-frame recording gets every frame.
//
// Threads: the worker thread reads the ring (as its consumer) and owns the recording while it
// lives. The user-interface thread only queues arrivals (OpenArrival, CloseArrival) and ends
// the worker (Finish); the queue is a short mutex that writing never holds.
class SaveWorker {
public:
    // Reports a failed recording once, with its reason; called on the worker thread.
    using FailureReport = std::function<void(const std::string& reason)>;

    SaveWorker(FrameRing& ring, Recording& recording, const RecordingFormat& format,
               RawConverter convert, FailureReport failed);
    ~SaveWorker();
    // False when the image buffers could not be had.
    bool IsReady() const { return m_thread.joinable(); }

    // The producer signals this after every frame it commits.
    WakeSignal& Wake() { return m_wake; }

    // User-interface thread. An arrival opened with a window that starts at race time `start`;
    // the window stays open until CloseArrival gives its end (after-window included).
    void OpenArrival(uint32_t start);
    void CloseArrival(uint32_t end);
    // Writes what the open windows hold of the frames kept until now, then ends the thread.
    void Finish();

    // True while a window is open or still being written.
    bool IsWriting() const { return m_writing.load(std::memory_order_acquire); }
    uint64_t FramesWritten() const { return m_framesWritten.load(std::memory_order_relaxed); }
    // Every arrival queued so far has been taken up (its frames are held).
    bool HasTakenArrivals() const {
        return m_commandsTaken.load(std::memory_order_acquire) ==
               m_commandsPosted.load(std::memory_order_acquire);
    }

private:
    struct Command {
        enum Kind : uint8_t { kOpen, kClose, kFinish } kind;
        uint32_t time;
        uint64_t head; // kFinish: write up to here
    };
    struct Window {
        uint32_t start;
        uint32_t end;
        bool closed;
    };
    static constexpr size_t kMaxCommands = 64;
    static constexpr size_t kMaxWindows = 64;

    void Post(Command command);
    void Run();
    void TakeCommands();
    void Open(uint32_t start);
    void Close(uint32_t end);
    void WriteAvailable();
    bool InWindow(uint32_t time);
    void Write(const FrameSlot& slot);
    void MoveOn();

    FrameRing& m_ring;
    Recording& m_recording;
    const RecordingFormat m_format;
    RecordingImageMaker m_images;
    const FailureReport m_failed;
    WakeSignal m_wake;

    // Queue from the user-interface thread.
    std::mutex m_mutex;
    std::array<Command, kMaxCommands> m_commands{};
    size_t m_commandCount = 0;
    std::atomic<bool> m_commandsPending{false};

    // Worker thread only.
    std::array<Window, kMaxWindows> m_windows{};
    size_t m_windowCount = 0;
    uint64_t m_cursor = 0;
    uint64_t m_finishHead = 0;
    bool m_finishing = false;
    uint32_t m_lastTime = 0; // the time of the last frame written: times rise
    bool m_anyWritten = false;
    bool m_reportedFailure = false;

    std::atomic<bool> m_writing{false};
    std::atomic<uint64_t> m_framesWritten{0};
    std::atomic<uint64_t> m_commandsPosted{0};
    std::atomic<uint64_t> m_commandsTaken{0};
    std::thread m_thread;
};

} // namespace quillon
