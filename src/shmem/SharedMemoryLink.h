#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "CQSharedMemory.h"
#include "HostBlock.h"

namespace quillon {

class RaceStateMachine;

// The host link through shared memory: while it is on, a poll reads the host's block from the
// segment every millisecond and turns it into the race operations that the TCP commands
// trigger, and writes the path of the recording that takes an arrival back into the segment.
//
// The poll runs on a precise 1 ms timer rather than whenever the event queue runs empty: on
// Linux an idle-driven poll would spin a core; 1 ms still sees a host's arrival within 2 ms.
//
// Threads: lives on and runs on the user-interface thread.
class SharedMemoryLink final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kKey = "VL_QUILLONID";
    // The size a recorder asks for when it makes the segment; it is stored at offset 4.
    static constexpr size_t kRequestedBytes = 165;
    static constexpr size_t kPathOffset = 41;
    static constexpr size_t kPathBytes = 128;
    // A segment we make covers the whole path field, which ends past the requested size.
    static constexpr size_t kLayoutBytes = kPathOffset + kPathBytes;
    // The recording's path as the recorder keeps it: up to 259 characters.
    static constexpr size_t kMaxPathChars = 259;
    static constexpr int kPollIntervalMs = 1;

    // `recordingPath` gives the path of the recording that takes the current arrival, empty
    // when there is none.
    SharedMemoryLink(RaceStateMachine& race, std::function<std::string()> recordingPath,
                     QObject* parent = nullptr);
    ~SharedMemoryLink() override;

    // On: makes the segment object (kept whether or not it attached) and starts the poll.
    // Off: stops the poll and destroys the object, detaching from the segment.
    void SwitchOn();
    void SwitchOff();
    bool IsOn() const { return m_memory != nullptr; }
    const CQSharedMemory* Memory() const { return m_memory.get(); }

    void Poll();
    // The path into the field at offset 41: zero-padded, no terminator when it fills the
    // field, cut where the segment ends.
    void WriteFilePath(std::string_view path);
    // The counter the last poll saw; kept for the program's whole run, through off and on.
    uint32_t LastArrivalCounter() const { return m_lastArrivalCounter; }

private:
    void RunSteps(unsigned steps, uint32_t raceTime);

    RaceStateMachine& m_race;
    std::function<std::string()> m_recordingPath;
    QTimer m_pollTimer;
    std::unique_ptr<CQSharedMemory> m_memory;
    std::array<uint8_t, HostBlock::kBytes> m_hostBlock{};
    uint32_t m_lastArrivalCounter = 0;
};

} // namespace quillon
