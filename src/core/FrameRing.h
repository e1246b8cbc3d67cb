#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quillon {

// The picture settings in effect when a frame was delivered. The save worker applies them when
// it turns the raw frame into the image a recording keeps, so the recording shows what the
// preview showed at that moment.
struct FrameAdjustment {
    int16_t brightness = 0;  // offset, -255..255 (the automatic correction's included)
    uint16_t contrast = 100; // percent
    uint8_t reduction = 1;   // 1 or 2

    uint32_t Pack() const {
        return uint32_t(uint16_t(brightness)) | uint32_t(contrast & 0x3FF) << 16 |
               uint32_t(reduction) << 26;
    }
    static FrameAdjustment Unpack(uint32_t word) {
        return {int16_t(uint16_t(word)), uint16_t(word >> 16 & 0x3FF), uint8_t(word >> 26)};
    }
    bool operator==(const FrameAdjustment&) const = default;
};

// One kept frame: the raw camera bytes in the ring's own store, with what it was delivered
// with.
struct FrameSlot {
    uint8_t* data = nullptr;
    uint32_t time = 0;     // race time in ms, read as the frame was delivered
    uint32_t sequence = 0; // the camera's frame number
    FrameAdjustment adjustment;
};

// Why a frame meant for a recording was not kept.
enum class FrameLoss { kRingFull, kWrongSize, kCount };

// The ring of the latest raw frames of a race: the one owner of the slots, their wrap-around
// arithmetic and the loss counters.
//
// Frames are numbered by position (0, 1, 2, ... since the ring was made or cleared); position
// p lives in slot p % Length(). One producer (the camera thread) reserves the slot of the next
// position, fills it and commits it; one consumer (the save worker) reads committed positions.
// The consumer holds positions it still needs with KeepFrom(); the producer never overwrites a
// held position: when the ring is full of held frames the newest frame is lost and counted.
// Nothing blocks: the handshake is two sequentially consistent atomics (the head the producer
// publishes, the oldest position the consumer holds).
//
// Create and Clear run on the user-interface thread while neither side runs (the intake is
// disarmed and the worker stopped).
class FrameRing {
public:
    static constexpr uint64_t kHoldNothing = ~uint64_t(0);

    // A ring of `length` empty records of `frameBytes` each. False when the memory could not
    // be had (the ring is then empty).
    bool Create(int32_t length, size_t frameBytes);
    // Forgets every frame; positions start at 0 again.
    void Clear();
    // The frames it keeps. (It has one slot more: the one the producer may be filling while
    // the consumer takes hold of the others.)
    int32_t Length() const { return m_slots.empty() ? 0 : int32_t(m_slots.size() - 1); }
    size_t FrameBytes() const { return m_frameBytes; }

    // Producer (camera thread). The slot for the next position, or nullptr when the ring is
    // full of held frames (counted as lost). Commit publishes it.
    FrameSlot* Reserve();
    void Commit();
    void CountLoss(FrameLoss why) { m_losses[size_t(why)].fetch_add(1, std::memory_order_relaxed); }

    // Consumer (save worker). Positions [Oldest(), Head()) are committed and intact while held.
    uint64_t Head() const { return m_head.load(std::memory_order_seq_cst); }
    // Holds the oldest frame still intact and returns its position: from here on nothing at or
    // after it is overwritten until the hold moves on.
    uint64_t HoldOldest();
    // Moves the hold to `position` (never backwards past what is intact), or drops it.
    void HoldFrom(uint64_t position) { m_hold.store(position, std::memory_order_seq_cst); }
    void HoldNothing() { m_hold.store(kHoldNothing, std::memory_order_seq_cst); }
    const FrameSlot& At(uint64_t position) const { return m_slots[position % m_slots.size()]; }

    // The position in [from, to) whose time is nearest `time` (ties: the older), among those
    // later than `after` when given. A pass starts with this frame: it is the one closest to
    // the start of the window before the arrival, so it belongs in the recording.
    std::optional<uint64_t> FindNearest(uint64_t from, uint64_t to, uint32_t time,
                                        std::optional<uint32_t> after = std::nullopt) const;

    uint64_t Losses(FrameLoss why) const {
        return m_losses[size_t(why)].load(std::memory_order_relaxed);
    }
    uint64_t TotalLosses() const;

private:
    std::vector<FrameSlot> m_slots;
    std::unique_ptr<uint8_t[]> m_store;
    size_t m_frameBytes = 0;
    std::atomic<uint64_t> m_head{0};            // written by the producer
    std::atomic<uint64_t> m_hold{kHoldNothing}; // written by the consumer
    std::atomic<uint64_t> m_losses[size_t(FrameLoss::kCount)]{};
};

} // namespace quillon
