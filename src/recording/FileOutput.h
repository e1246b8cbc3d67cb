#pragma once

// The one door through which every recording format reaches its file. The formats only append,
// seek back to patch header fields, and cut the file back after a failed write; a local file
// (LocalFileOutput) and a file on the host's share (SmbFileOutput) implement it.

#include <cstdint>
#include <string>

namespace quillon {

enum class SeekOrigin { Begin, Current, End };

// One piece of a gathered write.
struct ConstBuffer {
    const void* data;
    size_t size;
};

class IFileOutput {
public:
    virtual ~IFileOutput() = default;

    // False when the output could not be opened; nothing else then succeeds.
    virtual bool IsOpen() const = 0;

    // Writes all bytes at the current position or reports failure. After a failure the file may
    // hold any prefix of the bytes; the position is where the file's bytes end.
    virtual bool Write(const void* data, size_t size) = 0;
    // Writes the parts one after the other, as that many Write calls would. An output may pass
    // large blocks to the file straight from the caller's memory (a frame's rows, say).
    virtual bool WriteParts(const ConstBuffer* parts, size_t count) {
        for (size_t i = 0; i < count; ++i)
            if (!Write(parts[i].data, parts[i].size))
                return false;
        return true;
    }
    virtual bool Seek(int64_t offset, SeekOrigin origin) = 0;
    virtual uint64_t Tell() const = 0;
    // Hands buffered bytes to the file (not to the disk: no sync). When this succeeds, every byte
    // written before it is in the file.
    virtual bool Flush() = 0;
    // A whole record (a frame with its time) ends here. A local file hands its bytes over at
    // once, so that a crash of the program loses as little as possible; an output that gathers
    // bytes into large network writes keeps them until it has enough. False once it has failed.
    virtual bool EndRecord() { return Flush(); }
    // Cuts the file to size bytes (used to drop a partly written frame); the position is unchanged.
    virtual bool Truncate(uint64_t size) = 0;
    virtual bool Close() = 0;

    // Sticky: true once any operation has failed, with the text of the latest failure.
    virtual bool HasFailed() const = 0;
    virtual std::string LastError() const = 0;
};

} // namespace quillon
