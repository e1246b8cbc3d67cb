#include "recording/VlvWriter.h"

#include "recording/ByteFields.h"

namespace quillon {

namespace {
constexpr size_t kWhiteBlock = 64 * 1024;
}

bool VlvWriter::Create(uint32_t rate, uint32_t width, uint32_t height) {
    m_nWidth = width;
    m_nHeight = height;
    if (!m_output.IsOpen())
        return Fail(m_output.LastError());

    // Values wider than 16 bits keep their low 16 bits.
    FieldBlock<vlv::kHeaderLength> header;
    header.Be32(vlv::kHeaderLength);
    header.U8(vlv::kTagWidth);
    header.Be24(vlv::kValueLength);
    header.Be16(static_cast<uint16_t>(width));
    header.U8(vlv::kTagHeight);
    header.Be24(vlv::kValueLength);
    header.Be16(static_cast<uint16_t>(height));
    header.U8(vlv::kTagRate);
    header.Be24(vlv::kValueLength);
    header.Be16(static_cast<uint16_t>(rate));

    if (!m_output.Write(header.Data(), header.Size()) || !WriteOpeningFrame())
        return Fail(m_output.LastError());
    return Commit();
}

bool VlvWriter::WriteOpeningFrame() {
    // Written from a small block: a white frame of any size needs no frame-sized allocation.
    uint8_t white[kWhiteBlock];
    std::memset(white, vlv::kOpeningFrameByte, sizeof white);
    uint64_t remaining = uint64_t(m_nWidth) * m_nHeight;
    while (remaining > 0) {
        size_t n = remaining < kWhiteBlock ? size_t(remaining) : kWhiteBlock;
        if (!m_output.Write(white, n))
            return false;
        remaining -= n;
    }
    uint8_t time[vlv::kTimeBytes];
    PutLe32(time, vlv::kOpeningFrameTime);
    return m_output.Write(time, sizeof time);
}

bool VlvWriter::AppendFrame(uint32_t width, uint32_t height, const uint8_t* data, uint32_t time) {
    if (m_failed || data == nullptr || width != m_nWidth || height != m_nHeight)
        return false;
    uint8_t timeBytes[vlv::kTimeBytes];
    PutLe32(timeBytes, time);
    if (!m_output.Write(data, size_t(uint64_t(width) * height)) ||
        !m_output.Write(timeBytes, sizeof timeBytes))
        return Fail(m_output.LastError());
    return Commit();
}

bool VlvWriter::Commit() {
    if (!m_output.EndRecord())
        return Fail(m_output.LastError());
    m_committedEnd = m_output.Tell();
    return true;
}

bool VlvWriter::Fail(const std::string& text) {
    m_failed = true;
    m_error = text;
    // Drop a partly written record so that the file stays a whole number of records. A file whose
    // header itself could not be written is cut to nothing rather than left half a header.
    m_output.Truncate(m_committedEnd);
    m_output.Seek(int64_t(m_committedEnd), SeekOrigin::Begin);
    return false;
}

} // namespace quillon
