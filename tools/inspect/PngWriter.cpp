#include "PngWriter.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace quillon::inspect {

PngWriter::~PngWriter() {
    Release();
}

void PngWriter::Release() {
    avcodec_free_context(&m_encoder);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

bool PngWriter::Prepare(uint32_t width, uint32_t height, Pixels pixels) {
    const AVPixelFormat format = pixels == Pixels::Rgb ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_GRAY8;
    if (m_encoder != nullptr && m_encoder->width == int(width) &&
        m_encoder->height == int(height) && m_encoder->pix_fmt == format)
        return true;
    Release();
    const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (png == nullptr || (m_encoder = avcodec_alloc_context3(png)) == nullptr)
        return false;
    m_encoder->width = int(width);
    m_encoder->height = int(height);
    m_encoder->pix_fmt = format;
    m_encoder->time_base = {1, 1};
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (avcodec_open2(m_encoder, png, nullptr) < 0 || m_frame == nullptr || m_packet == nullptr)
        return false;
    m_frame->format = format;
    m_frame->width = int(width);
    m_frame->height = int(height);
    return av_frame_get_buffer(m_frame, 0) >= 0;
}

bool PngWriter::Write(const std::string& path, uint32_t width, uint32_t height, Pixels pixels,
                      const uint8_t* data, size_t stride, std::string* error) {
    if (!Prepare(width, height, pixels)) {
        *error = "cannot set up the PNG encoder";
        Release();
        return false;
    }
    if (av_frame_make_writable(m_frame) < 0) {
        *error = "out of memory";
        return false;
    }
    const size_t rowBytes = size_t(width) * (pixels == Pixels::Rgb ? 3 : 1);
    if (stride == 0)
        stride = rowBytes;
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(m_frame->data[0] + size_t(y) * size_t(m_frame->linesize[0]), data + y * stride,
                    rowBytes);
    if (avcodec_send_frame(m_encoder, m_frame) < 0 ||
        avcodec_receive_packet(m_encoder, m_packet) < 0) {
        *error = "PNG encoding failed";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(m_packet->data, 1, size_t(m_packet->size), file) ==
                                     size_t(m_packet->size);
    if (file != nullptr)
        ok = std::fclose(file) == 0 && ok;
    av_packet_unref(m_packet);
    if (!ok)
        *error = "cannot write " + path;
    return ok;
}

} // namespace quillon::inspect
