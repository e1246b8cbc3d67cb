#pragma once

#include <atomic>
#include <cstdint>

namespace quillon {

// The local millisecond clock that the race clock runs on and that names recordings.
// 32 bits, wrapping after about 49.7 days, as every difference of it is taken modulo 2^32.
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual uint32_t Now() const = 0;
};

// CLOCK_MONOTONIC in milliseconds, kept modulo 2^32.
class MonotonicTickSource final : public TickSource {
public:
    uint32_t Now() const override;
};

// A clock that only moves when told; tests drive the race clock with it. Safe to read from
// any thread.
class ManualTickSource final : public TickSource {
public:
    explicit ManualTickSource(uint32_t start = 0) : m_now(start) {}
    uint32_t Now() const override { return m_now.load(std::memory_order_relaxed); }
    void Set(uint32_t tick) { m_now.store(tick, std::memory_order_relaxed); }
    void Advance(uint32_t ms) { m_now.fetch_add(ms, std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> m_now;
};

} // namespace quillon
