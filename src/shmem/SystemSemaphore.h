#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace quillon {

// One System V semaphore found by key, the way QSystemSemaphore does on Linux: a key file in the
// temporary directory, ftok(file, 'Q'), one semaphore of mode 0600 set to 1 by whoever creates
// it, and every lock and unlock with SEM_UNDO, so the kernel gives back the lock of a process
// that dies holding it.
//
// Threads: one thread uses an object; other processes share the semaphore.
class SystemSemaphore {
public:
    explicit SystemSemaphore(std::string_view key);
    // The creator removes the semaphore and its key file, as Qt's owner does.
    ~SystemSemaphore();
    SystemSemaphore(const SystemSemaphore&) = delete;
    SystemSemaphore& operator=(const SystemSemaphore&) = delete;

    bool IsValid() const { return m_id != -1; }
    // errno of the last failure, 0 after success.
    int LastError() const { return m_lastError; }

    // Waits at most `timeoutMs` (no limit when negative) for the lock; false (EAGAIN) when it
    // stayed taken. A semaphore
    // that its owner removed meanwhile is made again, as Qt does.
    bool Lock(int timeoutMs);
    bool Unlock();

private:
    bool Open();
    void Close();
    bool Change(int delta, int timeoutMs);

    std::string m_keyFile;
    int m_id = -1;
    bool m_created = false;     // we made the semaphore: we remove it
    bool m_createdFile = false; // we made the key file
    bool m_locked = false;
    int m_lastError = 0;
};

} // namespace quillon
