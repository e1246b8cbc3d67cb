#pragma once

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quillon::inspect {

// Writes pictures as PNG files with FFmpeg's PNG encoder. Pixels are rows top-down, stride bytes
// apart (0: packed), either RGB (3 bytes per pixel) or grey (1 byte per pixel).
class PngWriter {
public:
    enum class Pixels { Rgb, Grey };

    PngWriter() = default;
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    bool Write(const std::string& path, uint32_t width, uint32_t height, Pixels pixels,
               const uint8_t* data, size_t stride, std::string* error);

private:
    bool Prepare(uint32_t width, uint32_t height, Pixels pixels);
    void Release();

    AVCodecContext* m_encoder = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
};

} // namespace quillon::inspect
