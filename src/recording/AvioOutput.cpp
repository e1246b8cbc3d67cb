#include "recording/AvioOutput.h"

#include <cerrno>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace quillon {

namespace {

constexpr int kAvioBufferBytes = 64 * 1024;

int WritePacket(void* opaque, uint8_t* data, int size) {
    auto* output = static_cast<IFileOutput*>(opaque);
    return output->Write(data, static_cast<size_t>(size)) ? size : AVERROR(EIO);
}

int64_t SeekOutput(void* opaque, int64_t offset, int whence) {
    auto* output = static_cast<IFileOutput*>(opaque);
    whence &= ~AVSEEK_FORCE;
    SeekOrigin origin;
    switch (whence) {
    case SEEK_SET:
        origin = SeekOrigin::Begin;
        break;
    case SEEK_CUR:
        origin = SeekOrigin::Current;
        break;
    case SEEK_END:
        origin = SeekOrigin::End;
        break;
    default:
        return AVERROR(ENOSYS); // AVSEEK_SIZE: muxers do without it
    }
    if (!output->Seek(offset, origin))
        return AVERROR(EIO);
    return static_cast<int64_t>(output->Tell());
}

} // namespace

AVIOContext* MakeAvioOutput(IFileOutput& output) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferBytes));
    if (buffer == nullptr)
        return nullptr;
    AVIOContext* context = avio_alloc_context(buffer, kAvioBufferBytes, 1, &output, nullptr,
                                              &WritePacket, &SeekOutput);
    if (context == nullptr)
        av_free(buffer);
    return context;
}

void FreeAvioOutput(AVIOContext*& context) {
    if (context == nullptr)
        return;
    // No flush here: after a failed write the owner may have cut the file, and bytes still in
    // the buffer belong to no whole packet.
    av_freep(&context->buffer); // FFmpeg may have replaced the buffer we gave it
    avio_context_free(&context);
}

} // namespace quillon
