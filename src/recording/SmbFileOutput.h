#pragma once

#include <memory>
#include <string>

#include "recording/FileOutput.h"

namespace quillon {

class SmbSession;

// A file on an SMB share ("smb://host/share/name"), written through libsmbclient. Bytes are
// gathered in a buffer made once at open and go to the server in large writes (kBufferSize),
// since every request costs a round trip; the end of a frame's record does not send on its own
// (EndRecord), Flush, Seek, Truncate and Close do.
//
// A failed request ends the output for good: no further request goes out, so a server that has
// gone away costs one timeout, and the file on the share keeps the bytes that reached it, as a
// local file keeps its bytes after a power loss.
//
// Threads: one thread at a time (the recording is handed between the save worker and the
// user-interface thread); libsmbclient itself is reached under the process-wide mutex.
class SmbFileOutput final : public IFileOutput {
public:
    static constexpr size_t kBufferSize = 4 * 1024 * 1024;

    // Creates the file on the share, or truncates an existing one.
    explicit SmbFileOutput(const std::string& path);
    ~SmbFileOutput() override;
    SmbFileOutput(const SmbFileOutput&) = delete;
    SmbFileOutput& operator=(const SmbFileOutput&) = delete;

    bool IsOpen() const override { return m_bOpen; }
    bool Write(const void* data, size_t size) override;
    bool Seek(int64_t offset, SeekOrigin origin) override;
    uint64_t Tell() const override { return m_filePos + m_used; }
    bool Flush() override;
    bool EndRecord() override { return m_bOpen && !m_bFailed; }
    bool Truncate(uint64_t size) override;
    bool Close() override;
    bool HasFailed() const override { return m_bFailed; }
    std::string LastError() const override { return m_strError; }

private:
    bool Usable() const { return m_bOpen && !m_bFailed; }
    bool Fail(const char* what, int error);

    std::string m_strPath;
    std::unique_ptr<SmbSession> m_session;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_used = 0;      // bytes waiting in m_buffer, due at m_filePos
    uint64_t m_filePos = 0; // where the next write goes in the file
    uint64_t m_fileEnd = 0; // the file's length: this output made the file and is its only writer
    bool m_bOpen = false;
    bool m_bFailed = false;
    std::string m_strError;
};

} // namespace quillon
