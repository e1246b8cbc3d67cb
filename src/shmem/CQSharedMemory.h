#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "SystemSemaphore.h"

namespace quillon {

// A named shared memory segment with its lock, found by key exactly as Qt's QSharedMemory finds
// it on Linux (System V; names from IpcNames.h), so a host that opens a QSharedMemory with the
// same key shares the segment and its QSystemSemaphore.
//
// The constructor creates the segment, or opens the one that is there, holding the semaphore
// throughout, so a host never sees a segment before it is initialised. It never fails loudly:
// success shows only in IsAttached(). The process that detaches last removes the segment and
// its key file, as Qt does.
//
// Reads and writes are bounded by the segment as mapped: a transfer that would go past its end
// fails and touches nothing.
//
// Threads: used by one thread (the user-interface thread); the host process is the other party,
// and the semaphore orders every transfer with it.
class CQSharedMemory {
public:
    // How long a transfer waits for a host that holds the lock: a host stopped in a debugger
    // must not stall the recorder's frames for good.
    static constexpr int kLockTimeoutMs = 100;

    // `size`: the requested size, stored little-endian at offset 4 of a segment we create.
    // `createBytes`: the size a segment we create gets (at least `size`); an existing segment
    // keeps its own.
    CQSharedMemory(std::string_view key, size_t size, size_t createBytes = 0);
    ~CQSharedMemory();
    CQSharedMemory(const CQSharedMemory&) = delete;
    CQSharedMemory& operator=(const CQSharedMemory&) = delete;

    bool IsAttached() const { return m_view != nullptr; }
    // False when the segment was there before us.
    bool Created() const { return m_created; }
    // Bytes of the segment as mapped; 0 while not attached.
    size_t Size() const { return m_size; }
    // errno of the last failure (ENOENT for a transfer while not attached, ERANGE for one past
    // the end, EAGAIN when the lock stayed taken).
    int LastError() const { return m_lastError; }
    // The segment's native key, set once it is mapped.
    const std::string& NativeName() const { return m_nativeName; }

    // Copies under the semaphore; false, touching nothing, when not attached, out of range or
    // the lock could not be had.
    bool Write(const void* source, size_t length, size_t offset);
    bool Read(void* destination, size_t length, size_t offset);

private:
    bool Attach(size_t size, size_t createBytes);
    int OpenSegment(key_t key, size_t createBytes);
    bool Transfer(bool toSegment, void* buffer, size_t length, size_t offset);
    void Detach();

    std::string m_nativeName;
    std::string m_keyFile;
    int m_lastError = 0;
    std::unique_ptr<SystemSemaphore> m_semaphore;
    bool m_created = true;
    uint8_t* m_view = nullptr;
    size_t m_size = 0;
    int m_segmentId = -1;
};

} // namespace quillon
