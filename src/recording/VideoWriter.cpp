#include "recording/VideoWriter.h"

#include <cstring>

#include "recording/AvioOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace quillon {

namespace {

constexpr char kMuxerName[] = "asf";
constexpr AVPixelFormat kEncoderPixelFormat = AV_PIX_FMT_YUV420P;
constexpr int64_t kNoSceneCutDetection = 1000000000; // else noisy frames become extra key frames
constexpr int kQuantiser = 3;                        // fixed quality: fine detail at the line
constexpr int64_t kMillisecondsPerSecond = 1000;
const AVRational kMilliseconds = {1, 1000};

// The input pixel format for a frame's bits per pixel, as Windows bitmaps lay them out.
// 8-bit frames carry no palette here and are taken as grey levels.
AVPixelFormat InputFormatFor(uint16_t bitsPerPixel) {
    switch (bitsPerPixel) {
    case 32:
        return AV_PIX_FMT_BGR0;
    case 24:
        return AV_PIX_FMT_BGR24;
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 8:
        return AV_PIX_FMT_GRAY8;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// UTF-16 units the path needs; bytes that are not UTF-8 count one unit each.
size_t Utf16Units(const std::string& text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 1;
        if (i + length > text.size())
            length = 1;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

uint64_t SampleTimeMs(uint64_t frameIndex, uint32_t rate) {
    return frameIndex * kMillisecondsPerSecond / rate;
}

} // namespace

const CVideoWriter::FrameHandler CVideoWriter::kFrameHandlers[3] = {
    &CVideoWriter::RefuseFrame,
    &CVideoWriter::SetUpAndWriteFrame,
    &CVideoWriter::WriteFrameSample,
};

CVideoWriter::CVideoWriter() {
    SetLastError(kMethodSucceeded);
}

CVideoWriter::~CVideoWriter() {
    Finish();
}

bool CVideoWriter::HasSucceeded() const {
    return std::strcmp(m_szLastError, kMethodSucceeded) == 0;
}

void CVideoWriter::SetLastError(const char* message) {
    std::strncpy(m_szLastError, message, kLastErrorBytes - 1);
    m_szLastError[kLastErrorBytes - 1] = '\0';
}

void CVideoWriter::Fail(const char* message) {
    SetLastError(message);
    Finish();
}

void CVideoWriter::StartRecording(const std::string& path, IFileOutput* output, uint32_t rate,
                                  uint32_t width, uint32_t height) {
    Finish();
    SetLastError(kMethodSucceeded);
    m_nRate = rate == 0 ? 1 : rate;
    m_framesWritten = 0;
    m_nextSampleTime = 0;
    m_nState = kNotReady;

    m_codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
    if (m_codec == nullptr)
        return Fail("Unable to Create WindowsMedia Profile Manager");
    const AVOutputFormat* asf = av_guess_format(kMuxerName, nullptr, nullptr);
    if (asf == nullptr)
        return Fail("Unable to Query Interface for ProfileManager2");
    m_codecCtx = avcodec_alloc_context3(m_codec);
    if (m_codecCtx == nullptr)
        return Fail("Unable to Load System Profile");
    if (!ConfigureEncoder(width, height))
        return Fail("Unable to Load System Profile");
    if ((asf->flags & AVFMT_GLOBALHEADER) != 0)
        m_codecCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avformat_alloc_output_context2(&m_muxer, asf, nullptr, nullptr) < 0)
        return Fail("Unable to Create Media Writer Object");
    if (avcodec_open2(m_codecCtx, m_codec, nullptr) < 0)
        return Fail("Unable to Set System Profile");
    m_stream = avformat_new_stream(m_muxer, nullptr);
    if (m_stream == nullptr)
        return Fail("Unable to Get input count For Profile");
    m_videoInput = static_cast<uint32_t>(m_stream->index);
    // Copied after opening the encoder, which makes the extradata decoders need.
    if (avcodec_parameters_from_context(m_stream->codecpar, m_codecCtx) < 0)
        return Fail("Unable to GetInput Properties");
    if (m_stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return Fail("Profile Does not Accept Video input");
    m_stream->time_base = kMilliseconds;
    if (Utf16Units(path) >= kMaxPathUnits)
        return Fail("Unable to Convert Output Filename");
    if (output == nullptr || !output->IsOpen())
        return Fail("Unable to Set Output Filename");
    m_output = output;
    m_io = MakeAvioOutput(*output);
    if (m_io == nullptr)
        return Fail("Unable to Set Output Filename");
    m_muxer->pb = m_io;
    m_nState = kStarted;
}

bool CVideoWriter::ConfigureEncoder(uint32_t width, uint32_t height) {
    AVCodecContext* c = m_codecCtx;
    c->width = static_cast<int>(width & ~1u); // wmv2 takes even widths only
    c->height = static_cast<int>(height);
    c->time_base = {1, static_cast<int>(m_nRate)}; // wmv2 stores the rate in its extradata
    c->framerate = {static_cast<int>(m_nRate), 1};
    c->pix_fmt = kEncoderPixelFormat;
    c->gop_size = kCleanPointInterval;
    c->max_b_frames = 0;
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * kQuantiser;
    c->bit_rate = int64_t(width) * height * m_nRate / 4; // what the ASF header announces
    return av_opt_set_int(c, "sc_threshold", kNoSceneCutDetection, AV_OPT_SEARCH_CHILDREN) >= 0;
}

uint32_t CVideoWriter::WriteVideoFrame(uint32_t width, uint32_t height, const uint8_t* data,
                                       uint16_t bitsPerPixel) {
    const uint32_t state = m_nState < 3 ? m_nState : kNotReady;
    return (this->*kFrameHandlers[state])(width, height, data, bitsPerPixel);
}

uint32_t CVideoWriter::RefuseFrame(uint32_t, uint32_t, const uint8_t*, uint16_t) {
    return kFailure;
}

uint32_t CVideoWriter::SetUpAndWriteFrame(uint32_t width, uint32_t height, const uint8_t* data,
                                          uint16_t bits) {
    if (!SetInputType(width, height, bits)) {
        Finish();
        return kFailure;
    }
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "packet_size", kAsfPacketBytes, 0);
    const int begun = avformat_write_header(m_muxer, &options);
    av_dict_free(&options);
    if (begun < 0) {
        Fail("Unable to Initialize Writing");
        return kFailure;
    }
    m_dataStart = static_cast<uint64_t>(avio_tell(m_io));
    m_nState = kWriting;
    return WriteFrameSample(width, height, data, bits);
}

bool CVideoWriter::SetInputType(uint32_t width, uint32_t height, uint16_t bits) {
    const AVPixelFormat input = InputFormatFor(bits);
    if (input == AV_PIX_FMT_NONE || width < 2 || height == 0) {
        SetLastError("Unable to Set Media Type");
        return false;
    }
    m_inputWidth = width;
    m_inputHeight = height;
    m_inputBits = bits;
    // An odd last column is left out, as the encoder's width is even.
    m_converter = sws_getContext(static_cast<int>(width & ~1u), static_cast<int>(height), input,
                                 m_codecCtx->width, m_codecCtx->height, kEncoderPixelFormat,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (m_converter == nullptr || m_frame == nullptr || m_packet == nullptr) {
        SetLastError("Unable to Set Input Properties for Media Writer");
        return false;
    }
    m_frame->format = kEncoderPixelFormat;
    m_frame->width = m_codecCtx->width;
    m_frame->height = m_codecCtx->height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        SetLastError("Unable to Set Input Properties for Media Writer");
        return false;
    }
    return true;
}

uint32_t CVideoWriter::WriteFrameSample(uint32_t width, uint32_t height, const uint8_t* data,
                                        uint16_t bits) {
    // The input type is the first frame's; a frame of another size cannot be taken.
    const bool fits =
        data != nullptr && width == m_inputWidth && height == m_inputHeight && bits == m_inputBits;
    const char* failure = fits ? EncodeSample(data) : "Unable to Write Frame";
    ++m_framesWritten;
    m_nextSampleTime = SampleTimeMs(m_framesWritten, m_nRate);
    if (failure == nullptr)
        return kSuccess;
    Fail(failure);
    return kFailure;
}

const char* CVideoWriter::EncodeSample(const uint8_t* data) {
    if (av_frame_make_writable(m_frame) < 0)
        return "Unable to Allocate Memory";
    const int stride = static_cast<int>(m_inputWidth * m_inputBits / 8);
    const uint8_t* const planes[1] = {data};
    const int strides[1] = {stride};
    if (sws_scale(m_converter, planes, strides, 0, static_cast<int>(m_inputHeight), m_frame->data,
                  m_frame->linesize) <= 0)
        return "Unable to Lock Buffer";
    m_frame->pts = m_framesWritten;
    m_frame->quality = m_codecCtx->global_quality;
    // Clean points exactly on frames 0, 25, 50, ...; the encoder's own group size agrees.
    m_frame->pict_type =
        m_framesWritten % kCleanPointInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(m_codecCtx, m_frame) < 0 || !DrainPackets())
        return "Unable to Write Frame";
    // Hand the frame's packets to the output now, so that a crash loses as little as possible.
    avio_flush(m_io);
    if (m_io->error < 0 || !m_output->EndRecord())
        return "Unable to Write Frame";
    return nullptr;
}

bool CVideoWriter::DrainPackets() {
    for (;;) {
        const int result = avcodec_receive_packet(m_codecCtx, m_packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return false;
        // The packet's pts is its frame index; its time is index x 1000 / rate milliseconds.
        const uint64_t index = static_cast<uint64_t>(m_packet->pts);
        const auto timeMs = static_cast<int64_t>(SampleTimeMs(index, m_nRate));
        const auto endMs = static_cast<int64_t>(SampleTimeMs(index + 1, m_nRate));
        m_packet->pts = av_rescale_q(timeMs, kMilliseconds, m_stream->time_base);
        m_packet->dts = m_packet->pts;
        m_packet->duration = av_rescale_q(endMs - timeMs, kMilliseconds, m_stream->time_base);
        m_packet->stream_index = static_cast<int>(m_videoInput);
        const int written = av_write_frame(m_muxer, m_packet);
        av_packet_unref(m_packet);
        if (written < 0)
            return false;
    }
}

void CVideoWriter::Finish() {
    if (m_nState == kWriting) {
        bool ok = m_io->error >= 0 && !m_output->HasFailed();
        if (ok) {
            ok = avcodec_send_frame(m_codecCtx, nullptr) >= 0 && DrainPackets();
            ok = av_write_trailer(m_muxer) >= 0 && ok;
            avio_flush(m_io);
            ok = m_io->error >= 0 && m_output->Flush() && ok;
        }
        if (!ok) {
            CutToWholePackets();
            if (HasSucceeded())
                SetLastError("Unable to End Writing");
        }
    }
    m_nState = kNotReady;
    Release();
}

void CVideoWriter::CutToWholePackets() {
    // FFmpeg stops writing at the first failed write, so the file holds the header and the
    // packets before the failure, the last one perhaps in part. Without that part every frame
    // still decodes; the header keeps the counts it was begun with, which readers do without.
    if (!m_output->Seek(0, SeekOrigin::End))
        return;
    const uint64_t size = m_output->Tell();
    if (size <= m_dataStart)
        return;
    const uint64_t packets = (size - m_dataStart) / kAsfPacketBytes;
    m_output->Truncate(m_dataStart + packets * kAsfPacketBytes);
}

void CVideoWriter::Release() {
    m_stream = nullptr; // belongs to the writer
    if (m_muxer != nullptr) {
        m_muxer->pb = nullptr;
        avformat_free_context(m_muxer);
        m_muxer = nullptr;
    }
    FreeAvioOutput(m_io);
    m_output = nullptr;
    avcodec_free_context(&m_codecCtx);
    m_codec = nullptr;
    sws_freeContext(m_converter);
    m_converter = nullptr;
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

} // namespace quillon
