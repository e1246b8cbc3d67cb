#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quillon {

// Ring record states. Empty, pending, buffered and written are the ones the race logic speaks
// of; filling and writing mark a slot that one thread has claimed for a moment, so the other
// never reads or overwrites it half-way.
enum SlotState : uint16_t {
    kSlotEmpty = 0,
    kSlotPending = 1,   // belongs to an open arrival, waits to be written
    kSlotBuffered = 2,  // kept for a coming arrival
    kSlotWritten = 3,
    kSlotFilling = 4,   // the frame intake is copying a frame into it
    kSlotWriting = 5,   // the save worker is writing it into the recording
};

// One ring record. Its image lives in the ring's own store, in step with the record: a
// buffered or pending record keeps its picture until it is written or overwritten.
struct FrameSlot {
    uint8_t* data = nullptr;
    uint32_t time = 0;      // race time in ms
    uint32_t sequence = 0;  // the camera's frame number
    std::atomic<uint16_t> state{kSlotEmpty};
};

// The ring of the most recent frames while a race runs, with one image store per record.
//
// Threads: the frame intake (user-interface thread) fills slots; the save worker writes them.
// A slot's fields are published by its state (release on store, acquire on load), and every
// move out of buffered or pending is a compare-and-swap, so intake and worker never touch the
// same slot's image at once.
class FrameRing {
public:
    // A ring of `length` empty records, each with room for `frameBytes`. False when the memory
    // could not be had (the ring is then empty).
    bool Create(int32_t length, size_t frameBytes);
    // Marks every record empty (between passes only).
    void Clear();
    int32_t Length() const { return int32_t(m_slots.size()); }
    size_t FrameBytes() const { return m_frameBytes; }
    FrameSlot& Slot(int32_t index) { return m_slots[size_t(index)]; }
    const FrameSlot& Slot(int32_t index) const { return m_slots[size_t(index)]; }
    uint16_t State(int32_t index) const {
        return m_slots[size_t(index)].state.load(std::memory_order_acquire);
    }

    // Copies a frame into slot `index` with the given state, unless the slot is pending (or
    // being written): then the new frame is not stored and false is returned.
    bool StoreFrame(SlotState state, const uint8_t* frame, size_t bytes, uint32_t time,
                    uint32_t sequence, int32_t index);

    // The buffered slot whose time is nearest `time` (ties: the lower index); -1 when no slot
    // is buffered. A pass starts with this frame: it is the one closest to the start of the
    // window before the arrival, so it belongs in the recording.
    // With `after`, only buffered slots whose time is later than it count.
    int32_t FindNearestSlot(uint32_t time, std::optional<uint32_t> after = std::nullopt) const;

    // Claims a buffered or pending slot for writing; false when it is in another state.
    bool ClaimForWriting(int32_t index, uint16_t expected);
    void MarkWritten(int32_t index);

private:
    std::vector<FrameSlot> m_slots;
    std::unique_ptr<uint8_t[]> m_store;
    size_t m_frameBytes = 0;
};

}  // namespace quillon
