#pragma once

#include <memory>
#include <string>

#include "recording/FileOutput.h"

struct iovec;

namespace quillon {

// A local file written through POSIX calls with a buffer made once at open, so that the many
// small header and index fields cost no system call each. Large blocks, and gathered writes
// larger than the buffer, bypass it (the latter through writev, with no copy of their own).
class LocalFileOutput final : public IFileOutput {
public:
    static constexpr size_t kBufferSize = 256 * 1024;

    // Creates the file, or truncates an existing one.
    explicit LocalFileOutput(const std::string& path);
    ~LocalFileOutput() override;
    LocalFileOutput(const LocalFileOutput&) = delete;
    LocalFileOutput& operator=(const LocalFileOutput&) = delete;

    bool IsOpen() const override { return m_fd >= 0; }
    bool Write(const void* data, size_t size) override;
    bool WriteParts(const ConstBuffer* parts, size_t count) override;
    bool Seek(int64_t offset, SeekOrigin origin) override;
    uint64_t Tell() const override { return m_filePos + m_used; }
    bool Flush() override;
    bool Truncate(uint64_t size) override;
    bool Close() override;
    bool HasFailed() const override { return m_failed; }
    std::string LastError() const override { return m_error; }

private:
    bool WriteAll(const uint8_t* data, size_t size);
    bool WriteVectors(::iovec* vectors, int count);
    bool Fail(const char* what);

    int m_fd = -1;
    std::string m_strPath;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_used = 0;      // bytes waiting in m_buffer
    uint64_t m_filePos = 0; // the file descriptor's offset
    bool m_failed = false;
    std::string m_error;
};

} // namespace quillon
