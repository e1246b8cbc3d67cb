#include "recording/SmbFileOutput.h"

#include <fcntl.h>
#include <pthread.h>

#include <algorithm>
#include <cstring>

#include "recording/SmbSession.h"

namespace quillon {

SmbFileOutput::SmbFileOutput(const std::string& path)
    : m_strPath(path), m_session(std::make_unique<SmbSession>()) {
    if (!m_session->Open(path, O_RDWR | O_CREAT | O_TRUNC)) {
        Fail("cannot create", m_session->Errno());
        return;
    }
    m_blocks[0] = std::make_unique<uint8_t[]>(kBufferSize);
    m_blocks[1] = std::make_unique<uint8_t[]>(kBufferSize);
    m_sender = std::thread([this] { SendLoop(); });
    m_open = true;
}

SmbFileOutput::~SmbFileOutput() {
    Close();
}

void SmbFileOutput::SendLoop() {
    pthread_setname_np(pthread_self(), "smb-sender");
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || m_sendData != nullptr; });
        if (m_sendData == nullptr)
            return;
        const uint8_t* data = m_sendData;
        const size_t size = m_sendSize;
        const uint64_t offset = m_sendOffset;
        lock.unlock();
        // The session is the sender's while a block is in flight: the owner touches it only
        // after Drain().
        const bool sent = m_session->WriteAt(offset, data, size);
        const int error = sent ? 0 : m_session->Errno();
        lock.lock();
        m_sendError = m_sendError ? m_sendError : error;
        m_sendData = nullptr;
        m_wake.notify_all();
    }
}

bool SmbFileOutput::Fail(const char* what, int error) {
    m_failed = true;
    m_used = 0; // what was not sent will not be
    m_error = std::string(what) + " " + m_strPath + ": " + std::strerror(error);
    return false;
}

bool SmbFileOutput::Drain() {
    int error = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_sendData == nullptr; });
        error = m_sendError;
    }
    return error == 0 || Fail("cannot write", error);
}

bool SmbFileOutput::SendBlock() {
    if (!Drain())
        return false; // the block before this one is on the server
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sendData = m_blocks[m_filling].get();
        m_sendSize = m_used;
        m_sendOffset = m_filePos;
    }
    m_wake.notify_all();
    m_filePos += m_used;
    m_fileEnd = std::max(m_fileEnd, m_filePos);
    m_filling = 1 - m_filling;
    m_used = 0;
    return true;
}

bool SmbFileOutput::Write(const void* data, size_t size) {
    if (!Usable())
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const size_t n = std::min(size, kBufferSize - m_used);
        std::memcpy(m_blocks[m_filling].get() + m_used, bytes, n);
        m_used += n;
        bytes += n;
        size -= n;
        if (m_used == kBufferSize && !SendBlock())
            return false;
    }
    return true;
}

bool SmbFileOutput::EndRecord() {
    if (!Usable())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sendError == 0)
        return true;
    return Fail("cannot write", m_sendError);
}

bool SmbFileOutput::Flush() {
    if (!Usable())
        return false;
    return (m_used == 0 || SendBlock()) && Drain();
}

bool SmbFileOutput::Seek(int64_t offset, SeekOrigin origin) {
    if (!Flush())
        return false;
    const int64_t base = origin == SeekOrigin::Begin ? 0
                         : origin == SeekOrigin::End ? int64_t(m_fileEnd)
                                                     : int64_t(m_filePos);
    if (base + offset < 0)
        return Fail("cannot seek in", EINVAL);
    m_filePos = uint64_t(base + offset);
    return true;
}

bool SmbFileOutput::Truncate(uint64_t size) {
    if (!Flush())
        return false;
    if (!m_session->Truncate(size))
        return Fail("cannot truncate", m_session->Errno());
    m_fileEnd = size;
    return true;
}

bool SmbFileOutput::Close() {
    if (!m_open)
        return !m_failed;
    bool ok = !m_failed && Flush();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_sender.join(); // a block still in flight after a failure ends within the timeout
    // The handle is given back even after a failure (a full share, say); the session knows
    // when the server no longer answers and then lets it be.
    if (!m_session->CloseFile() && ok)
        ok = Fail("cannot close", m_session->Errno());
    m_open = false;
    m_session.reset();
    m_blocks[0].reset();
    m_blocks[1].reset();
    return ok;
}

} // namespace quillon
