#pragma once

// Little helpers to lay out binary records field by field, in the order the fields sit on disk,
// and to read them back. Our file formats mix both byte orders, so every field says its order.

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillon {

inline void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t GetLe64(const uint8_t* p) {
    return uint64_t(GetLe32(p)) | (uint64_t(GetLe32(p + 4)) << 32);
}
inline uint32_t GetBe(const uint8_t* p, size_t bytes) {
    uint32_t v = 0;
    for (size_t i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

// A four-character code as RIFF stores it: the characters in reading order.
using FourCC = std::array<char, 4>;
constexpr FourCC MakeFourCC(const char (&text)[5]) {
    return {text[0], text[1], text[2], text[3]};
}
inline bool IsFourCC(const uint8_t* p, const FourCC& code) {
    return std::memcmp(p, code.data(), 4) == 0;
}

// Appends fields to a fixed block of N bytes; writing past the end is a programming error.
template <size_t N> class FieldBlock {
public:
    FieldBlock() { m_bytes.fill(0); }

    void U8(uint8_t v) { Reserve(1)[0] = v; }
    void Le16(uint16_t v) { PutLe16(Reserve(2), v); }
    void Le32(uint32_t v) { PutLe32(Reserve(4), v); }
    void Le64(uint64_t v) { PutLe64(Reserve(8), v); }
    void Be16(uint16_t v) { Be(v, 2); }
    void Be24(uint32_t v) { Be(v, 3); }
    void Be32(uint32_t v) { Be(v, 4); }
    void Code(const FourCC& code) { std::memcpy(Reserve(4), code.data(), 4); }
    void Bytes(const void* data, size_t size) { std::memcpy(Reserve(size), data, size); }
    void Zeros(size_t size) { std::memset(Reserve(size), 0, size); }

    const uint8_t* Data() const { return m_bytes.data(); }
    size_t Size() const { return m_size; }

private:
    uint8_t* Reserve(size_t n) {
        assert(m_size + n <= N);
        uint8_t* p = m_bytes.data() + m_size;
        m_size += n;
        return p;
    }
    void Be(uint32_t v, size_t bytes) {
        uint8_t* p = Reserve(bytes);
        for (size_t i = 0; i < bytes; ++i)
            p[i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
    }

    std::array<uint8_t, N> m_bytes;
    size_t m_size = 0;
};

} // namespace quillon
