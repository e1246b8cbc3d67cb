#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "Event.h"
#include "FrameRing.h"
#include "Recording.h"

namespace quillon {

// The geometry every frame of a pass is written with.
struct FrameHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerPixel = 24;
};

// The worker's parameter record. Written by the user-interface thread before it sets the go
// event (which publishes it); the worker hands it back with the idle event. The end index is
// atomic because the intake's ring check reads it while a pass runs.
struct SaveJob {
    FrameRing* ring = nullptr;
    Recording* recorder = nullptr;
    FrameHeader header;
    int32_t startIndex = 0;
    uint64_t pass = 0;  // the number the owner gave this pass
    // The time of the last frame the recording got, before the pass (owner) and after it
    // (worker, published by the idle event): times rise through the whole recording.
    uint32_t lastTime = 0;
    bool anyWritten = false;
    std::atomic<int32_t> endIndex{0};
};

// The save worker thread: waits for the go event, runs one pass over the ring, reports the
// pass's end, and waits again, until told to quit.
class SaveWorker {
public:
    // Called on the worker thread when a pass has ended, with the index where it stopped and
    // the pass's number.
    using PassDone = std::function<void(int32_t stopIndex, uint64_t pass)>;

    SaveWorker(SaveJob& job, SaveEvents& events, PassDone passDone);
    ~SaveWorker();

    // Ends the thread after the pass that runs (if any) and waits for it.
    void Stop();

    // One pass, usable without the thread (tests). Frames go out in ring order with strictly
    // rising times; a frame whose time is not above the one written before is marked written
    // without being written.
    static int32_t RunPass(SaveJob& job);

private:
    void Run();

    SaveJob& m_job;
    SaveEvents& m_events;
    PassDone m_passDone;
    std::thread m_thread;
};

}  // namespace quillon
