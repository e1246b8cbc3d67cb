#include "SharedMemoryLink.h"

#include <algorithm>
#include <cstdio>

#include "core/RaceStateMachine.h"

namespace quillon {

SharedMemoryLink::SharedMemoryLink(RaceStateMachine& race,
                                   std::function<std::string()> recordingPath, QObject* parent)
    : QObject(parent), m_race(race), m_recordingPath(std::move(recordingPath)) {
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    m_pollTimer.setInterval(kPollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &SharedMemoryLink::Poll);
}

SharedMemoryLink::~SharedMemoryLink() = default;

void SharedMemoryLink::SwitchOn() {
    if (m_memory)
        return;
    m_memory = std::make_unique<CQSharedMemory>(kKey, kRequestedBytes, kLayoutBytes);
    m_pollTimer.start();
}

void SharedMemoryLink::SwitchOff() {
    m_pollTimer.stop();
    m_memory.reset();
}

void SharedMemoryLink::Poll() {
    // Unattached, the host block was never read: there is nothing to act on.
    if (!m_memory || !m_memory->IsAttached())
        return;
    // A block that could not be read now is not acted on from an older copy.
    if (!m_memory->Read(m_hostBlock.data(), m_hostBlock.size(), 0))
        return;
    const HostBlock block = DecodeHostBlock(m_hostBlock.data(), m_hostBlock.size());
    PollSituation now;
    now.ready = m_race.State() == kReady;
    now.started = m_race.State() == kStarted;
    now.arrivalOpen = m_race.ArrivalEndTime() == 0;
    now.lastCounter = m_lastArrivalCounter;
    RunSteps(DecidePoll(block, now), block.RaceTime());
    m_lastArrivalCounter = block.counter;
}

void SharedMemoryLink::RunSteps(unsigned steps, uint32_t raceTime) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", int32_t(raceTime));
    if (steps & kPollIdle)
        m_race.OnIdle();
    if (steps & kPollReady)
        m_race.OnReady();
    if (steps & kPollStart)
        m_race.OnStart();
    if (steps & kPollEndArrival)
        m_race.OnEndArrival(text);
    if (steps & kPollSetClock)
        m_race.SetRaceTime(raceTime);
    if (steps & kPollArrival) {
        m_race.OnArrival(text);
        // Without a recording (none could be prepared) there is no path to give.
        const std::string path = m_recordingPath ? m_recordingPath() : std::string();
        if (!path.empty())
            WriteFilePath(path);
    }
}

void SharedMemoryLink::WriteFilePath(std::string_view path) {
    if (!m_memory || !m_memory->IsAttached() || m_memory->Size() <= kPathOffset)
        return;
    std::array<char, kPathBytes> field{};
    const size_t kept = std::min({path.size(), kMaxPathChars, field.size()});
    std::copy_n(path.data(), kept, field.data());
    // A host's own smaller segment gets as much of the field as it holds.
    const size_t length = std::min(field.size(), m_memory->Size() - kPathOffset);
    m_memory->Write(field.data(), length, kPathOffset);
}

} // namespace quillon
