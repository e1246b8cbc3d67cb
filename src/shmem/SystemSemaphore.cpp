#include "SystemSemaphore.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "IpcNames.h"

namespace quillon {
namespace {

constexpr int kMode = 0600;

} // namespace

SystemSemaphore::SystemSemaphore(std::string_view key)
    : m_keyFile(ipc::KeyFilePath(ipc::kSystemSemaphorePrefix, key)) {
    Open();
}

SystemSemaphore::~SystemSemaphore() {
    // The owner removes it while still holding it, so no other process is inside; those that
    // wait see it gone and make a new one.
    if (!m_created && m_locked)
        Unlock();
    Close();
}

bool SystemSemaphore::Open() {
    const int made = ipc::MakeKeyFile(m_keyFile);
    if (made < 0) {
        m_lastError = errno;
        return false;
    }
    m_createdFile = made == 1;
    const key_t key = ::ftok(m_keyFile.c_str(), ipc::kProjectId);
    if (key == -1) {
        m_lastError = errno;
        Close();
        return false;
    }
    m_id = ::semget(key, 1, IPC_CREAT | IPC_EXCL | kMode);
    if (m_id != -1) {
        m_created = true;
        // A key file left by a process that crashed belongs to the new semaphore now.
        m_createdFile = true;
        if (::semctl(m_id, 0, SETVAL, 1) == -1) {
            m_lastError = errno;
            Close();
            return false;
        }
    } else if (errno == EEXIST) {
        m_id = ::semget(key, 1, kMode);
    }
    if (m_id == -1) {
        m_lastError = errno;
        Close();
        return false;
    }
    m_lastError = 0;
    return true;
}

void SystemSemaphore::Close() {
    if (m_created && m_id != -1)
        ::semctl(m_id, 0, IPC_RMID);
    if (m_createdFile)
        ::unlink(m_keyFile.c_str());
    m_id = -1;
    m_created = false;
    m_createdFile = false;
    m_locked = false;
}

bool SystemSemaphore::Change(int delta, int timeoutMs) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_id == -1 && !Open())
            return false;
        sembuf operation{};
        operation.sem_num = 0;
        operation.sem_op = short(delta);
        operation.sem_flg = SEM_UNDO;
        timespec timeout{timeoutMs / 1000, long(timeoutMs % 1000) * 1000000L};
        const timespec* limit = delta < 0 && timeoutMs >= 0 ? &timeout : nullptr;
        int result;
        do {
            result = ::semtimedop(m_id, &operation, 1, limit);
        } while (result == -1 && errno == EINTR);
        if (result == 0) {
            m_lastError = 0;
            return true;
        }
        m_lastError = errno;
        if (errno != EINVAL && errno != EIDRM)
            return false;
        // Its owner removed it: ours is stale. Another process may own the new one.
        m_created = false;
        m_createdFile = false;
        m_id = -1;
        if (delta > 0)
            return false; // a lock on a removed semaphore was given back with it
    }
    return false;
}

bool SystemSemaphore::Lock(int timeoutMs) {
    m_locked = Change(-1, timeoutMs);
    return m_locked;
}

bool SystemSemaphore::Unlock() {
    if (!m_locked)
        return true;
    m_locked = false;
    return Change(+1, 0);
}

} // namespace quillon
