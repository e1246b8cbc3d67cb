#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillon {

// The one frame copy between the camera thread and the user-interface thread.
//
// The camera thread offers frames; an offer copies the frame into the buffer unless the
// user-interface thread is processing the previous one, in which case the frame is not handed
// over at all (nothing queues up behind a slow window). A frame that was copied but not yet
// taken is replaced by the newer one. The state word makes every hand-over a proper
// release/acquire pair, so the reader never sees a half-written copy.
class FrameHandOver {
public:
    FrameHandOver(uint8_t* buffer, size_t capacity) : m_buffer(buffer), m_capacity(capacity) {}

    // Camera thread. Copies at most `capacity` bytes. Returns true when the caller must tell the
    // user-interface thread (no notice is outstanding yet); false when the frame went into a
    // copy that is already announced, or was not handed over (see WasHandedOver).
    enum class Offer { Announce, Replaced, Busy };
    Offer OfferFrame(const uint8_t* data, size_t length);

    // User-interface thread, on the notice. Returns the frame or nullptr when there is none
    // (it was taken already, or the camera thread is just writing a newer one and will send a
    // new notice). A frame taken must be released when processing ends.
    const uint8_t* Take(size_t& length);
    void Release();

    // Frames the preview never took: not handed over because the previous one was being
    // processed, or replaced by a newer one before they were taken.
    uint64_t Skipped() const {
        return m_busyDrops.load(std::memory_order_relaxed) +
               m_replaced.load(std::memory_order_relaxed);
    }
    uint32_t BusyDrops() const { return m_busyDrops.load(std::memory_order_relaxed); }

private:
    enum State : uint32_t { kFree, kWriting, kReady, kProcessing };

    uint8_t* const m_buffer;
    const size_t m_capacity;
    size_t m_length = 0; // published with the state: written before kReady, read after it
    std::atomic<uint32_t> m_state{kFree};
    std::atomic<bool> m_noticePending{false};
    std::atomic<uint32_t> m_busyDrops{0};
    std::atomic<uint64_t> m_replaced{0};
};

} // namespace quillon
