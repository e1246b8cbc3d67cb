// Windows Media recordings: the frame-time trailer found from the end of the file, and the
// video read and decoded whole through FFmpeg, which ignores the trailer.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "Inspection.h"
#include "PngWriter.h"
#include "recording/ByteFields.h"
#include "recording/FrameTimeTrailer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace quillon::inspect {

namespace {

constexpr int kRowAlignment = 64;
constexpr uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// The ASF header object holds objects; its File Properties object records, when the muxer
// finishes, the file's size and packet count.
constexpr uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint64_t kHeaderObjectBytes = 30;
constexpr uint64_t kObjectHeadBytes = 24;
constexpr uint64_t kFileSizeOffset = 40;
constexpr uint64_t kPacketCountOffset = 56;
constexpr uint64_t kPacketSizeOffset = 92;
constexpr uint64_t kFilePropertiesBytes = 104;

} // namespace

AsfFileProperties ReadAsfFileProperties(const InputFile& file) {
    AsfFileProperties properties;
    uint8_t head[kHeaderObjectBytes];
    if (!file.Read(0, head, sizeof head) ||
        std::memcmp(head, kAsfHeaderGuid, sizeof kAsfHeaderGuid) != 0)
        return properties;
    properties.headerBytes = GetLe64(head + 16);
    const uint64_t headerEnd = std::min(properties.headerBytes, file.Size());
    for (uint64_t pos = kHeaderObjectBytes; pos + kObjectHeadBytes <= headerEnd;) {
        uint8_t object[kFilePropertiesBytes];
        if (!file.Read(pos, object, kObjectHeadBytes))
            break;
        const uint64_t size = GetLe64(object + 16);
        if (std::memcmp(object, kFilePropertiesGuid, sizeof kFilePropertiesGuid) == 0 &&
            size >= kFilePropertiesBytes && file.Read(pos, object, sizeof object)) {
            properties.found = true;
            properties.fileSize = GetLe64(object + kFileSizeOffset);
            properties.packets = GetLe64(object + kPacketCountOffset);
            properties.packetSize = GetLe32(object + kPacketSizeOffset);
            break;
        }
        // An object must end inside the header: a size that wraps the position around would
        // walk the same objects for ever.
        if (size < kObjectHeadBytes || size > headerEnd - pos)
            break;
        pos += size;
    }
    return properties;
}

namespace {

void CheckFileProperties(const InputFile& file, uint64_t videoBytes, std::ostream& out,
                         Inspection& result) {
    const AsfFileProperties properties = ReadAsfFileProperties(file);
    if (!properties.found) {
        result.Problem("the Windows Media header has no file properties");
        return;
    }
    out << "asf: file size " << properties.fileSize << ", data packets " << properties.packets
        << ", packet size " << properties.packetSize << "\n";
    if (properties.fileSize == 0)
        result.Problem("the Windows Media data was not finished (its header gives no size)");
    else if (properties.fileSize != videoBytes)
        result.Problem("the Windows Media header gives " + std::to_string(properties.fileSize) +
                       " bytes, the file holds " + std::to_string(videoBytes));
}

// Decoder complaints go to FFmpeg's log; counting its errors tells a damaged frame from a sound
// one even where the decoder conceals the damage.
std::atomic<int> g_loggedErrors{0};
void CountErrors(void*, int level, const char*, va_list) {
    if (level <= AV_LOG_ERROR)
        ++g_loggedErrors;
}

struct Trailer {
    bool present = false;
    std::vector<uint32_t> times;
    uint64_t videoBytes = 0; // bytes before the trailer
};

Trailer ReadTrailer(const InputFile& file, Inspection& result) {
    Trailer trailer;
    trailer.videoBytes = file.Size();
    uint8_t tail[trailer::kFixedBytes];
    if (file.Size() < sizeof tail || !file.Read(file.Size() - sizeof tail, tail, sizeof tail) ||
        std::memcmp(tail + trailer::kCountBytes, trailer::kMarker, trailer::kMarkerBytes) != 0)
        return trailer;
    trailer.present = true;
    const uint64_t count = GetLe32(tail);
    if (count * trailer::kTimeBytes > file.Size() - sizeof tail) {
        result.Problem("trailer counts " + std::to_string(count) +
                       " frame times, more than the file holds");
        return trailer;
    }
    trailer.videoBytes = file.Size() - sizeof tail - count * trailer::kTimeBytes;
    std::vector<uint8_t> bytes(count * trailer::kTimeBytes);
    file.Read(trailer.videoBytes, bytes.data(), bytes.size());
    for (uint64_t i = 0; i < count; ++i)
        trailer.times.push_back(GetLe32(&bytes[i * trailer::kTimeBytes]));
    return trailer;
}

class VideoReader {
public:
    ~VideoReader() {
        sws_freeContext(m_converter);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_decoder);
        avformat_close_input(&m_input);
    }

    bool Open(const std::string& path, std::ostream& out, Inspection& result) {
        if (avformat_open_input(&m_input, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(m_input, nullptr) < 0) {
            result.Problem("FFmpeg cannot read the Windows Media data");
            return false;
        }
        const AVCodec* codec = nullptr;
        m_stream = av_find_best_stream(m_input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (m_stream < 0 || codec == nullptr) {
            result.Problem("no video stream");
            return false;
        }
        const AVStream* stream = m_input->streams[m_stream];
        m_decoder = avcodec_alloc_context3(codec);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (m_decoder == nullptr || m_frame == nullptr || m_packet == nullptr ||
            avcodec_parameters_to_context(m_decoder, stream->codecpar) < 0 ||
            avcodec_open2(m_decoder, codec, nullptr) < 0) {
            result.Problem("cannot open the " + std::string(codec->name) + " decoder");
            return false;
        }
        m_decoder->err_recognition |= AV_EF_EXPLODE;
        out << "codec: " << codec->name << "\nsize: " << stream->codecpar->width << "x"
            << stream->codecpar->height << "\nrate: " << stream->r_frame_rate.num << "/"
            << stream->r_frame_rate.den << " frames per second\n";
        return true;
    }

    // Reads every packet, decodes it, and reports each frame's sample time and key flag.
    void ReadAll(const Trailer& trailer, const Options& options, std::ostream& out,
                 Inspection& result) {
        const AVRational timeBase = m_input->streams[m_stream]->time_base;
        const int errorsBefore = g_loggedErrors.load();
        int failedDecodes = 0;
        while (av_read_frame(m_input, m_packet) >= 0) {
            if (m_packet->stream_index == m_stream) {
                const int64_t ms = av_rescale_q(m_packet->pts, timeBase, {1, 1000});
                out << "frame " << m_nFrames << ": sample time " << ms << " ms"
                    << ((m_packet->flags & AV_PKT_FLAG_KEY) != 0 ? ", key" : "");
                if (trailer.present && m_nFrames < trailer.times.size())
                    out << ", time " << trailer.times[m_nFrames] << " ms";
                out << "\n";
                ++m_nFrames;
                if (!Decode(options, result))
                    ++failedDecodes;
            }
            av_packet_unref(m_packet);
        }
        const int logged = g_loggedErrors.load() - errorsBefore;
        if (failedDecodes > 0 || logged > 0)
            result.Problem("damaged video: " + std::to_string(failedDecodes) +
                           " frames failed to decode, " + std::to_string(logged) +
                           " decoder errors");
    }

    size_t Frames() const { return m_nFrames; }

private:
    bool Decode(const Options& options, Inspection& result) {
        if (avcodec_send_packet(m_decoder, m_packet) < 0)
            return false;
        int status;
        while ((status = avcodec_receive_frame(m_decoder, m_frame)) >= 0) {
            if (!options.exportDir.empty())
                Export(options, result);
            av_frame_unref(m_frame);
        }
        return status == AVERROR(EAGAIN) || status == AVERROR_EOF;
    }

    void Export(const Options& options, Inspection& result) {
        const int w = m_frame->width, h = m_frame->height;
        m_converter =
            sws_getCachedContext(m_converter, w, h, AVPixelFormat(m_frame->format), w, h,
                                 AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        // swscale may write a little past the end of a row: give it aligned, padded rows.
        const int stride = (w * 3 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
        m_rgb.resize(size_t(stride) * h + kRowAlignment);
        uint8_t* planes[1] = {m_rgb.data()};
        const int strides[1] = {stride};
        std::string error;
        if (m_converter == nullptr ||
            sws_scale(m_converter, m_frame->data, m_frame->linesize, 0, h, planes, strides) != h ||
            !m_png.Write(ExportPath(options, result.exported), uint32_t(w), uint32_t(h),
                         PngWriter::Pixels::Rgb, m_rgb.data(), size_t(stride), &error)) {
            result.Problem("export failed: " + error);
            return;
        }
        ++result.exported;
    }

    AVFormatContext* m_input = nullptr;
    AVCodecContext* m_decoder = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_converter = nullptr;
    PngWriter m_png;
    std::vector<uint8_t> m_rgb;
    int m_stream = -1;
    size_t m_nFrames = 0;
};

} // namespace

void InspectWindowsMedia(const InputFile& file, const Options& options, std::ostream& out,
                         Inspection& result) {
    const Trailer trailer = ReadTrailer(file, result);
    if (trailer.present)
        out << "kind: WMV (3), Windows Media with frame-time trailer\ntrailer: "
            << trailer.times.size() << " frame times, " << trailer.times.size() * 4 + 9
            << " bytes\n";
    else
        out << "kind: WMV (ALL) (4), Windows Media every-frame recording, no frame times\n";

    uint8_t guid[sizeof kAsfHeaderGuid] = {};
    const bool hasVideo = trailer.videoBytes >= sizeof guid && file.Read(0, guid, sizeof guid) &&
                          std::memcmp(guid, kAsfHeaderGuid, sizeof guid) == 0;
    size_t frames = 0;
    if (hasVideo) {
        CheckFileProperties(file, trailer.videoBytes, out, result);
        av_log_set_callback(&CountErrors);
        VideoReader video;
        if (video.Open(file.Path(), out, result))
            video.ReadAll(trailer, options, out, result);
        frames = video.Frames();
        av_log_set_callback(&av_log_default_callback);
    } else if (trailer.videoBytes > 0 || !trailer.times.empty()) {
        result.Problem("no Windows Media header where the video should begin");
    }
    out << "frames: " << frames << "\n";
    if (trailer.present && trailer.times.size() != frames)
        result.Problem("the trailer holds " + std::to_string(trailer.times.size()) +
                       " frame times but the video holds " + std::to_string(frames) + " frames");
}

} // namespace quillon::inspect
