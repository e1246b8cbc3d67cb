#pragma once

// The own container ".vlv": a big-endian tagged header, a white opening frame with time 1, then
// one record per frame: width x height pixel bytes and the time as 32-bit little-endian. With no
// count or index anywhere, a reader finds the frames from the file length alone; so after a
// failed write the file is cut back to the last whole record.

#include <cstdint>
#include <string>

#include "recording/FileOutput.h"

namespace quillon {

namespace vlv {
constexpr uint32_t kHeaderLength = 22;
constexpr uint8_t kTagWidth = 1;
constexpr uint8_t kTagHeight = 2;
constexpr uint8_t kTagRate = 3;
constexpr uint32_t kValueLength = 2; // every header value is a 16-bit number
constexpr uint8_t kOpeningFrameByte = 0xFF;
constexpr uint32_t kOpeningFrameTime = 1;
constexpr uint32_t kTimeBytes = 4;
} // namespace vlv

class VlvWriter {
public:
    explicit VlvWriter(IFileOutput& output) : m_output(output) {}

    // Writes the header and the opening frame. False (with LastError) when that fails.
    bool Create(uint32_t rate, uint32_t width, uint32_t height);
    // Appends one frame record: the first width x height bytes of data, then the time. Frames
    // whose size differs from the header's are refused, as every record must have the header's
    // size for a reader to find the ones after it.
    bool AppendFrame(uint32_t width, uint32_t height, const uint8_t* data, uint32_t time);

    bool HasFailed() const { return m_failed; }
    const std::string& LastError() const { return m_error; }

private:
    bool WriteOpeningFrame();
    bool Commit();
    bool Fail(const std::string& text);

    IFileOutput& m_output;
    uint32_t m_nWidth = 0;
    uint32_t m_nHeight = 0;
    uint64_t m_committedEnd = 0; // the file's length up to the last whole record
    bool m_failed = false;
    std::string m_error;
};

} // namespace quillon
