#include "FrameRing.h"

#include <unistd.h>

#include <algorithm>
#include <new>

namespace quillon {

bool FrameRing::Create(int32_t length, size_t frameBytes) {
    m_slots = std::vector<FrameSlot>();
    m_store.reset();
    m_frameBytes = 0;
    Clear();
    if (length <= 0 || frameBytes == 0)
        return false;
    // A ring larger than the machine's memory could never be filled without failing later,
    // in the middle of a race; it is refused now.
    const uint64_t bytes = (uint64_t(length) + 1) * frameBytes;
    const uint64_t memory = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
    if (bytes > memory)
        return false;
    // Made once per ring; the pages are only touched as frames arrive.
    m_store.reset(new (std::nothrow) uint8_t[bytes]);
    if (!m_store)
        return false;
    m_slots = std::vector<FrameSlot>(size_t(length) + 1);
    m_frameBytes = frameBytes;
    for (size_t i = 0; i < m_slots.size(); ++i)
        m_slots[i].data = m_store.get() + i * frameBytes;
    return true;
}

void FrameRing::Clear() {
    m_head.store(0, std::memory_order_seq_cst);
    m_hold.store(kHoldNothing, std::memory_order_seq_cst);
}

FrameSlot* FrameRing::Reserve() {
    if (m_slots.empty())
        return nullptr;
    const uint64_t head = m_head.load(std::memory_order_relaxed); // our own
    const uint64_t hold = m_hold.load(std::memory_order_seq_cst);
    // Position `head` overwrites position head - n, which must not be held.
    if (hold != kHoldNothing && head >= hold && head - hold >= m_slots.size()) {
        CountLoss(FrameLoss::kRingFull);
        return nullptr;
    }
    return &m_slots[head % m_slots.size()];
}

void FrameRing::Commit() {
    m_head.store(m_head.load(std::memory_order_relaxed) + 1, std::memory_order_seq_cst);
}

uint64_t FrameRing::HoldOldest() {
    const uint64_t n = m_slots.size();
    // The producer may be filling the slot of the head, which held position head - n.
    const auto oldestIntact = [n](uint64_t head) { return head >= n ? head - n + 1 : 0; };
    const uint64_t first = oldestIntact(Head());
    HoldFrom(first);
    // A producer that checked the hold before it was set may still fill one more slot; every
    // later one sees the hold. So what is intact now stays intact.
    const uint64_t oldest = std::max(first, oldestIntact(Head()));
    HoldFrom(oldest);
    return oldest;
}

std::optional<uint64_t> FrameRing::FindNearest(uint64_t from, uint64_t to, uint32_t time,
                                               std::optional<uint32_t> after) const {
    std::optional<uint64_t> nearest;
    uint32_t best = 0;
    for (uint64_t p = from; p < to; ++p) {
        const uint32_t t = At(p).time;
        if (after && int32_t(t - *after) <= 0)
            continue;
        const int32_t d = int32_t(t - time);
        const uint32_t distance = d < 0 ? 0u - uint32_t(d) : uint32_t(d);
        if (!nearest || distance < best) {
            nearest = p;
            best = distance;
        }
    }
    return nearest;
}

uint64_t FrameRing::TotalLosses() const {
    uint64_t total = 0;
    for (const auto& loss : m_losses)
        total += loss.load(std::memory_order_relaxed);
    return total;
}

} // namespace quillon
