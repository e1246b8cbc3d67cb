#include "FrameCatcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quillon::testing {

namespace {
constexpr auto kFrameWaitLimit = std::chrono::seconds(20);
}

FrameCatcher::FrameCatcher() : m_last(kMaxFrameBytes) {}

void FrameCatcher::Callback(void* context, uint8_t* data, uint32_t length) {
    static_cast<FrameCatcher*>(context)->OnFrame(data, length);
}

void FrameCatcher::OnFrame(const uint8_t* data, uint32_t length) {
    if (m_sealed.load()) {
        m_lateCalls.fetch_add(1);
        return;
    }
    std::lock_guard lock(m_mutex);
    const int32_t marker = data[0] * 256 + data[1];
    if (marker == m_previousMarker) {
        ++m_repeatedMarkers;
    }
    if (m_previousMarker >= 0 && marker != ((m_previousMarker + 1) & 0xFFFF)) {
        ++m_counterJumps;
    }
    m_previousMarker = marker;
    if (m_expectedLength != 0 && length != m_expectedLength) {
        ++m_wrongLengths;
    }
    m_lastLength = std::min(length, kMaxFrameBytes);
    std::memcpy(m_last.data(), data, m_lastLength);
    ++m_frames;
    m_arrived.notify_all();
}

void FrameCatcher::ExpectLength(uint32_t length) {
    std::lock_guard lock(m_mutex);
    m_expectedLength = length;
}

bool FrameCatcher::WaitForFrames(uint32_t count) {
    std::unique_lock lock(m_mutex);
    const uint32_t target = m_frames + count;
    return m_arrived.wait_for(lock, kFrameWaitLimit, [&] { return m_frames >= target; });
}

uint32_t FrameCatcher::CounterJumps() const {
    std::lock_guard lock(m_mutex);
    return m_counterJumps;
}

uint32_t FrameCatcher::WrongLengths() const {
    std::lock_guard lock(m_mutex);
    return m_wrongLengths;
}

uint32_t FrameCatcher::RepeatedMarkers() const {
    std::lock_guard lock(m_mutex);
    return m_repeatedMarkers;
}

std::vector<uint8_t> FrameCatcher::LastFrame() const {
    std::lock_guard lock(m_mutex);
    return std::vector<uint8_t>(m_last.begin(), m_last.begin() + m_lastLength);
}

uint32_t FrameCatcher::Frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

} // namespace quillon::testing
