#pragma once

// An in-memory file with a path, for readers that insist on opening a file by name: each fuzz
// input is written into it and the reader opens /proc/self/fd/N. No disk is touched.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace quillon::fuzz {

class ScratchFile {
public:
    explicit ScratchFile(const char* name) : m_fd(::memfd_create(name, MFD_CLOEXEC)) {
        if (m_fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~ScratchFile() { ::close(m_fd); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the whole content.
    void Fill(const uint8_t* data, size_t size) {
        if (::ftruncate(m_fd, 0) != 0 ||
            (size > 0 && ::pwrite(m_fd, data, size, 0) != ssize_t(size)))
            std::abort();
    }
    const std::string& Path() const { return m_path; }

private:
    int m_fd;
    std::string m_path;
};

// Stops the run with a message that says which property broke.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

} // namespace quillon::fuzz
