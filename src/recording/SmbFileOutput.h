#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recording/FileOutput.h"

namespace quillon {

class SmbSession;

// A file on an SMB share ("smb://host/share/name"), written through libsmbclient. Bytes are
// gathered in large blocks (kBufferSize), since every request costs a round trip, and a full
// block goes to the server on the output's own sender thread while the caller fills the other
// one: a writer waits for the network only when the server is slower than the frames. The end
// of a frame's record sends nothing on its own (EndRecord); Flush, Seek, Truncate and Close wait
// until every byte is on the server.
//
// A failed request ends the output for good: no further request goes out, so a server that has
// gone away costs one timeout, and the file on the share keeps the bytes that reached it, as a
// local file keeps its bytes after a power loss.
//
// Threads: the owner calls from one thread at a time (the recording is handed between the save
// worker and the user-interface thread); the sender thread takes one block at a time from it
// under m_mutex. libsmbclient itself is reached under the process-wide mutex.
class SmbFileOutput final : public IFileOutput {
public:
    static constexpr size_t kBufferSize = 4 * 1024 * 1024;

    // Creates the file on the share, or truncates an existing one.
    explicit SmbFileOutput(const std::string& path);
    ~SmbFileOutput() override;
    SmbFileOutput(const SmbFileOutput&) = delete;
    SmbFileOutput& operator=(const SmbFileOutput&) = delete;

    bool IsOpen() const override { return m_open; }
    bool Write(const void* data, size_t size) override;
    bool Seek(int64_t offset, SeekOrigin origin) override;
    uint64_t Tell() const override { return m_filePos + m_used; }
    bool Flush() override;
    bool EndRecord() override;
    bool Truncate(uint64_t size) override;
    bool Close() override;
    bool HasFailed() const override { return m_failed; }
    std::string LastError() const override { return m_error; }

private:
    bool Usable() const { return m_open && !m_failed; }
    bool Fail(const char* what, int error);
    // Hands the filled block to the sender (waiting for the one before it) and switches blocks.
    bool SendBlock();
    // Waits until the sender is idle; false when a block could not be sent.
    bool Drain();
    void SendLoop();

    std::string m_strPath;
    std::unique_ptr<SmbSession> m_session;
    // Owner's side: the block being filled and where its bytes go.
    std::unique_ptr<uint8_t[]> m_blocks[2];
    int m_filling = 0;
    size_t m_used = 0;      // bytes in the block being filled, due at m_filePos
    uint64_t m_filePos = 0; // where the block being filled goes in the file
    uint64_t m_fileEnd = 0; // the file's length: this output made the file and is its only writer
    bool m_open = false;
    bool m_failed = false;
    std::string m_error;

    // Shared with the sender thread, guarded by m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    const uint8_t* m_sendData = nullptr; // the block in flight, or none
    size_t m_sendSize = 0;
    uint64_t m_sendOffset = 0;
    int m_sendError = 0; // errno of the failed send; the owner fails at its next call
    bool m_quit = false;
    std::thread m_sender;
};

} // namespace quillon
