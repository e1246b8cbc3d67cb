#include "recording/SmbFileOutput.h"

#include <fcntl.h>

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
    m_buffer = std::make_unique<uint8_t[]>(kBufferSize);
    m_bOpen = true;
}

SmbFileOutput::~SmbFileOutput() {
    Close();
}

bool SmbFileOutput::Fail(const char* what, int error) {
    m_bFailed = true;
    m_used = 0; // what was not sent will not be: the position shows where the file's bytes end
    m_strError = std::string(what) + " " + m_strPath + ": " + std::strerror(error);
    return false;
}

bool SmbFileOutput::Write(const void* data, size_t size) {
    if (!Usable())
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const size_t n = std::min(size, kBufferSize - m_used);
        std::memcpy(m_buffer.get() + m_used, bytes, n);
        m_used += n;
        bytes += n;
        size -= n;
        if (m_used == kBufferSize && !Flush())
            return false;
    }
    return true;
}

bool SmbFileOutput::Flush() {
    if (!Usable())
        return false;
    if (m_used == 0)
        return true;
    if (!m_session->WriteAt(m_filePos, m_buffer.get(), m_used))
        return Fail("cannot write", m_session->Errno());
    m_filePos += m_used;
    m_fileEnd = std::max(m_fileEnd, m_filePos);
    m_used = 0;
    return true;
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
    if (!m_bOpen)
        return !m_bFailed;
    bool ok = !m_bFailed && Flush();
    // The handle is given back even after a failure (a full share, say); the session knows
    // when the server no longer answers and then lets it be.
    if (!m_session->CloseFile() && ok)
        ok = Fail("cannot close", m_session->Errno());
    m_bOpen = false;
    m_session.reset();
    m_buffer.reset();
    return ok;
}

} // namespace quillon
