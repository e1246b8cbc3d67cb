#include "CQSharedMemory.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "IpcNames.h"

namespace quillon {
namespace {

constexpr int kMode = 0600;
constexpr size_t kSizeFieldOffset = 4;

} // namespace

CQSharedMemory::CQSharedMemory(std::string_view key, size_t size, size_t createBytes)
    : m_keyFile(ipc::KeyFilePath(ipc::kSharedMemoryPrefix, key)) {
    m_semaphore = std::make_unique<SystemSemaphore>(key);
    if (!m_semaphore->IsValid()) {
        m_lastError = m_semaphore->LastError();
        return;
    }
    if (!m_semaphore->Lock(kLockTimeoutMs)) {
        m_lastError = m_semaphore->LastError();
        return;
    }
    if (Attach(size, std::max(size, createBytes))) {
        m_nativeName = ipc::NativeKey(ipc::kSharedMemoryPrefix, key);
    }
    m_semaphore->Unlock();
}

CQSharedMemory::~CQSharedMemory() {
    // As Qt detaches: under the lock, so nobody attaches to a segment that is being removed.
    // The semaphore goes still held: its owner removes it (nobody else is inside then), anyone
    // else gives it back.
    if (m_view != nullptr)
        m_semaphore->Lock(kLockTimeoutMs);
    Detach();
    m_semaphore.reset();
}

bool CQSharedMemory::Attach(size_t size, size_t createBytes) {
    const int madeFile = ipc::MakeKeyFile(m_keyFile);
    const key_t key = madeFile < 0 ? key_t(-1) : ::ftok(m_keyFile.c_str(), ipc::kProjectId);
    if (key == -1) {
        m_lastError = errno;
        return false;
    }
    const int id = OpenSegment(key, createBytes);
    if (id == -1) {
        m_lastError = errno;
        if (madeFile == 1)
            ::unlink(m_keyFile.c_str());
        return false;
    }
    void* view = ::shmat(id, nullptr, 0);
    shmid_ds status{};
    if (view == reinterpret_cast<void*>(-1) || ::shmctl(id, IPC_STAT, &status) == -1) {
        m_lastError = errno;
        if (view != reinterpret_cast<void*>(-1))
            ::shmdt(view);
        return false;
    }
    m_view = static_cast<uint8_t*>(view);
    m_size = status.shm_segsz;
    m_segmentId = id;
    if (m_created) {
        std::memset(m_view, 0, m_size);
        const uint32_t requested = uint32_t(size);
        const uint8_t sizeField[4] = {uint8_t(requested), uint8_t(requested >> 8),
                                      uint8_t(requested >> 16), uint8_t(requested >> 24)};
        if (m_size >= kSizeFieldOffset + 4) {
            std::memcpy(m_view + kSizeFieldOffset, sizeField, sizeof sizeField);
        }
    }
    return true;
}

int CQSharedMemory::OpenSegment(key_t key, size_t createBytes) {
    int id = ::shmget(key, createBytes, IPC_CREAT | IPC_EXCL | kMode);
    if (id != -1 || errno != EEXIST)
        return id;
    id = ::shmget(key, 0, kMode);
    if (id == -1)
        return id;
    shmid_ds status{};
    if (::shmctl(id, IPC_STAT, &status) == -1)
        return -1;
    if (status.shm_nattch > 0) {
        m_created = false;
        return id;
    }
    // Nobody is attached, yet it was never removed: its last user died (the lock we hold
    // keeps out anyone who is about to attach). Its old flags would steer a race that is
    // long over, so it is made anew.
    ::shmctl(id, IPC_RMID, nullptr);
    return ::shmget(key, createBytes, IPC_CREAT | IPC_EXCL | kMode);
}

void CQSharedMemory::Detach() {
    if (m_view == nullptr)
        return;
    ::shmdt(m_view);
    m_view = nullptr;
    m_size = 0;
    shmid_ds status{};
    if (::shmctl(m_segmentId, IPC_STAT, &status) == 0 && status.shm_nattch == 0) {
        ::shmctl(m_segmentId, IPC_RMID, nullptr);
        ::unlink(m_keyFile.c_str());
    }
    m_segmentId = -1;
}

bool CQSharedMemory::Transfer(bool toSegment, void* buffer, size_t length, size_t offset) {
    if (m_view == nullptr) {
        m_lastError = ENOENT;
        return false;
    }
    if (offset > m_size || length > m_size - offset) {
        m_lastError = ERANGE;
        return false;
    }
    if (!m_semaphore->Lock(kLockTimeoutMs)) {
        m_lastError = m_semaphore->LastError();
        return false;
    }
    if (toSegment) {
        std::memcpy(m_view + offset, buffer, length);
    } else {
        std::memcpy(buffer, m_view + offset, length);
    }
    m_semaphore->Unlock();
    return true;
}

bool CQSharedMemory::Write(const void* source, size_t length, size_t offset) {
    return Transfer(true, const_cast<void*>(source), length, offset);
}

bool CQSharedMemory::Read(void* destination, size_t length, size_t offset) {
    return Transfer(false, destination, length, offset);
}

} // namespace quillon
