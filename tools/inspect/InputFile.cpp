#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Inspection.h"

namespace quillon::inspect {

InputFile::InputFile(const std::string& path) : m_path(path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        m_error = std::strerror(errno);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_size = static_cast<uint64_t>(info.st_size);
}

InputFile::~InputFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InputFile::Read(uint64_t offset, void* data, size_t size) const {
    if (offset > m_size || size > m_size - offset)
        return false;
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(m_fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string ExportPath(const Options& options, uint32_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06u.png", frame);
    return options.exportDir + "/" + name;
}

} // namespace quillon::inspect
