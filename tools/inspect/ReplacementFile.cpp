#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Inspection.h"

namespace quillon::inspect {

ReplacementFile::ReplacementFile(const std::string& path) : m_target(path) {
    std::string pattern = path + ".repair-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        m_error = "cannot create a file beside " + path + ": " + std::strerror(errno);
        return;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        ::fchmod(fd, info.st_mode & 07777);
    ::close(fd);
    m_temp = pattern;
}

ReplacementFile::~ReplacementFile() {
    if (!m_temp.empty() && !m_committed)
        ::unlink(m_temp.c_str());
}

bool ReplacementFile::Commit() {
    // The new file's bytes must be on the disk before its name replaces the old file's, or a
    // power loss right after could leave neither.
    const int fd = ::open(m_temp.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced || ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        m_error = "cannot replace " + m_target + ": " + std::strerror(errno);
        return false;
    }
    m_committed = true;
    const std::string::size_type slash = m_target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace quillon::inspect
