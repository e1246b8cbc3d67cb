#pragma once

// One libsmbclient context with at most one open file: a fresh connection per recording, so
// that a server that went away takes only its own session with it and the next recording
// dials anew.
//
// Threads: any one thread at a time per session; every libsmbclient call holds the process-wide
// mutex, so sessions on different threads never meet inside the library.

#include <cstddef>
#include <cstdint>
#include <string>

struct _SMBCCTX;
struct _SMBCFILE;

namespace quillon {

class SmbSession {
public:
    SmbSession();
    ~SmbSession();
    SmbSession(const SmbSession&) = delete;
    SmbSession& operator=(const SmbSession&) = delete;

    // Each returns false on failure and leaves the reason in Errno().
    bool Open(const std::string& path, int flags);
    bool Unlink(const std::string& path);
    // Writes all bytes at offset.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    bool Truncate(uint64_t size);
    bool CloseFile();

    int Errno() const { return m_errno; }

private:
    bool Fail(int error);

    _SMBCCTX* m_context = nullptr;
    _SMBCFILE* m_file = nullptr;
    int m_errno = 0;
    // A request timed out: the server may never answer again, and saying goodbye to it would
    // wait out the timeout once more per file and per connection.
    bool m_serverSilent = false;
};

} // namespace quillon
