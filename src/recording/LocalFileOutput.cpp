#include "recording/LocalFileOutput.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace quillon {

namespace {
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any file the user creates
// As many pieces per call as the kernel takes: a frame's rows in one call where they fit, which
// costs little more than one contiguous write.
constexpr int kVectorsPerCall = IOV_MAX;
} // namespace

LocalFileOutput::LocalFileOutput(const std::string& path) : m_strPath(path) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
    if (m_fd < 0) {
        Fail("cannot create");
        return;
    }
    m_buffer = std::make_unique<uint8_t[]>(kBufferSize);
}

LocalFileOutput::~LocalFileOutput() {
    Close();
}

bool LocalFileOutput::Fail(const char* what) {
    m_failed = true;
    m_error = std::string(what) + " " + m_strPath + ": " + std::strerror(errno);
    return false;
}

bool LocalFileOutput::WriteAll(const uint8_t* data, size_t size) {
    if (size == 0)
        return true; // a zero-byte write would read as a full disk
    iovec whole{const_cast<uint8_t*>(data), size};
    return WriteVectors(&whole, 1);
}

bool LocalFileOutput::Write(const void* data, size_t size) {
    if (m_fd < 0)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (m_used + size <= kBufferSize) {
        std::memcpy(m_buffer.get() + m_used, bytes, size);
        m_used += size;
        return true;
    }
    if (!Flush())
        return false;
    if (size >= kBufferSize)
        return WriteAll(bytes, size);
    std::memcpy(m_buffer.get(), bytes, size);
    m_used = size;
    return true;
}

bool LocalFileOutput::WriteParts(const ConstBuffer* parts, size_t count) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += parts[i].size;
    if (m_fd < 0 || m_used + total <= kBufferSize)
        return IFileOutput::WriteParts(parts, count);
    if (!Flush())
        return false;
    iovec vectors[kVectorsPerCall];
    while (count > 0) {
        int n = 0;
        for (; n < kVectorsPerCall && size_t(n) < count; ++n)
            vectors[n] = {const_cast<void*>(parts[n].data), parts[n].size};
        if (!WriteVectors(vectors, n))
            return false;
        parts += n;
        count -= size_t(n);
    }
    return true;
}

bool LocalFileOutput::WriteVectors(iovec* vectors, int count) {
    while (count > 0) {
        ssize_t n = ::writev(m_fd, vectors, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail("cannot write");
        }
        if (n == 0) {
            errno = ENOSPC;
            return Fail("cannot write");
        }
        m_filePos += static_cast<uint64_t>(n);
        // Step past what was written; a short write leaves the rest of one vector.
        auto written = static_cast<size_t>(n);
        while (count > 0 && written >= vectors->iov_len) {
            written -= vectors->iov_len;
            ++vectors;
            --count;
        }
        if (count > 0) {
            vectors->iov_base = static_cast<uint8_t*>(vectors->iov_base) + written;
            vectors->iov_len -= written;
        }
    }
    return true;
}

bool LocalFileOutput::Flush() {
    if (m_fd < 0)
        return false;
    size_t pending = m_used;
    m_used = 0; // on failure the buffered bytes are gone either way; Tell() shows the file's end
    return WriteAll(m_buffer.get(), pending);
}

bool LocalFileOutput::Seek(int64_t offset, SeekOrigin origin) {
    if (!Flush())
        return false;
    int whence = origin == SeekOrigin::Begin ? SEEK_SET
                 : origin == SeekOrigin::End ? SEEK_END
                                             : SEEK_CUR;
    off_t pos = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (pos < 0)
        return Fail("cannot seek in");
    m_filePos = static_cast<uint64_t>(pos);
    return true;
}

bool LocalFileOutput::Truncate(uint64_t size) {
    if (!Flush())
        return false;
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        return Fail("cannot truncate");
    return true;
}

bool LocalFileOutput::Close() {
    if (m_fd < 0)
        return !m_failed;
    bool ok = Flush();
    if (::close(m_fd) != 0 && ok)
        ok = Fail("cannot close");
    m_fd = -1;
    m_buffer.reset();
    return ok;
}

} // namespace quillon
