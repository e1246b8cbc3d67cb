// Repairs a Windows Media recording cut short. The muxer writes the ASF header first with empty
// sizes and counts, then fixed-size data packets, and only at the end the real sizes, the packet
// count and the seek index; our frame-time trailer follows after that. The repair reads the
// whole packets that reached the disk and copies their frames, unchanged, through FFmpeg's ASF
// muxer into a replacement file, which so gets a complete header and index. Frame times are
// kept when the trailer, or the part of it that was written, still holds one for every frame.

#include <algorithm>
#include <cstring>

#include "Inspection.h"
#include "recording/AvioOutput.h"
#include "recording/ByteFields.h"
#include "recording/FrameTimeTrailer.h"
#include "recording/LocalFileOutput.h"
#include "recording/VideoWriter.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace quillon::inspect {

namespace {

constexpr uint64_t kDataObjectHeadBytes = 50;
constexpr int kInputBufferBytes = 64 * 1024;

// What lies after the ASF data: a whole trailer, the start of one, or nothing.
struct TrailerPart {
    uint64_t videoEnd = 0;
    bool whole = false;
    std::vector<uint32_t> times;
};

TrailerPart FindTrailer(const InputFile& file, const AsfFileProperties& properties) {
    TrailerPart part;
    part.videoEnd = file.Size();
    uint8_t tail[trailer::kFixedBytes];
    uint64_t timesStart = 0, count = 0;
    if (file.Size() >= sizeof tail && file.Read(file.Size() - sizeof tail, tail, sizeof tail) &&
        std::memcmp(tail + trailer::kCountBytes, trailer::kMarker, trailer::kMarkerBytes) == 0 &&
        uint64_t(GetLe32(tail)) * trailer::kTimeBytes <= file.Size() - sizeof tail) {
        count = GetLe32(tail);
        timesStart = file.Size() - sizeof tail - count * trailer::kTimeBytes;
        part.whole = true;
    } else if (properties.fileSize > 0 && properties.fileSize < file.Size()) {
        // The muxer finished, the trailer did not: its first times may all be there.
        timesStart = properties.fileSize;
        count = (file.Size() - timesStart) / trailer::kTimeBytes;
    } else {
        return part;
    }
    part.videoEnd = timesStart;
    std::vector<uint8_t> bytes(count * trailer::kTimeBytes);
    file.Read(timesStart, bytes.data(), bytes.size());
    for (uint64_t i = 0; i < count; ++i)
        part.times.push_back(GetLe32(&bytes[i * trailer::kTimeBytes]));
    return part;
}

// FFmpeg reads the file through this, up to a given end only.
struct LimitedInput {
    const InputFile* file;
    uint64_t end;
    uint64_t pos = 0;

    static int Read(void* opaque, uint8_t* data, int size) {
        auto* self = static_cast<LimitedInput*>(opaque);
        const auto n = static_cast<int>(std::min<uint64_t>(uint64_t(size), self->end - self->pos));
        if (n <= 0)
            return AVERROR_EOF;
        if (!self->file->Read(self->pos, data, size_t(n)))
            return AVERROR(EIO);
        self->pos += uint64_t(n);
        return n;
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<LimitedInput*>(opaque);
        const int64_t end = int64_t(self->end);
        if ((whence & AVSEEK_SIZE) != 0)
            return end;
        const int64_t base = whence == SEEK_CUR ? int64_t(self->pos) : whence == SEEK_END ? end : 0;
        if (base + offset < 0 || base + offset > end)
            return AVERROR(EINVAL);
        self->pos = uint64_t(base + offset);
        return base + offset;
    }
};

// Owns the FFmpeg objects of one copy.
class Remuxer {
public:
    ~Remuxer() {
        av_packet_free(&m_packet);
        if (m_output != nullptr) {
            m_output->pb = nullptr;
            avformat_free_context(m_output);
        }
        FreeAvioOutput(m_outputIo);
        avformat_close_input(&m_input);
        if (m_inputIo != nullptr)
            av_freep(&m_inputIo->buffer);
        avio_context_free(&m_inputIo);
    }

    // Opens the input and checks that it is ours: one wmv2 video stream and nothing else.
    bool Open(LimitedInput& input, std::string& error) {
        auto* buffer = static_cast<uint8_t*>(av_malloc(kInputBufferBytes));
        m_inputIo = buffer == nullptr
                        ? nullptr
                        : avio_alloc_context(buffer, kInputBufferBytes, 0, &input,
                                             &LimitedInput::Read, nullptr, &LimitedInput::Seek);
        m_input = avformat_alloc_context();
        if (m_inputIo == nullptr || m_input == nullptr) {
            av_free(m_inputIo == nullptr ? buffer : nullptr);
            error = "out of memory";
            return false;
        }
        m_input->pb = m_inputIo;
        if (avformat_open_input(&m_input, nullptr, av_find_input_format("asf"), nullptr) < 0 ||
            avformat_find_stream_info(m_input, nullptr) < 0) {
            error = "FFmpeg cannot read the Windows Media data";
            return false;
        }
        if (m_input->nb_streams != 1 ||
            m_input->streams[0]->codecpar->codec_id != AV_CODEC_ID_WMV2) {
            error = "not a Windows Media recording of Quillon ID";
            return false;
        }
        return true;
    }

    // Copies every whole frame into output; the number of frames copied, or -1.
    int64_t CopyTo(IFileOutput& output, std::string& error) {
        m_outputIo = MakeAvioOutput(output);
        m_packet = av_packet_alloc();
        if (m_outputIo == nullptr || m_packet == nullptr ||
            avformat_alloc_output_context2(&m_output, nullptr, "asf", nullptr) < 0) {
            error = "cannot prepare the Windows Media muxer";
            return -1;
        }
        m_output->pb = m_outputIo;
        const AVStream* in = m_input->streams[0];
        AVStream* out = avformat_new_stream(m_output, nullptr);
        if (out == nullptr || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0) {
            error = "cannot prepare the Windows Media muxer";
            return -1;
        }
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        AVDictionary* options = nullptr;
        av_dict_set_int(&options, "packet_size", CVideoWriter::kAsfPacketBytes, 0);
        const int begun = avformat_write_header(m_output, &options);
        av_dict_free(&options);
        if (begun < 0) {
            error = "cannot write the Windows Media header";
            return -1;
        }
        int64_t frames = 0;
        bool ok = true;
        while (ok && av_read_frame(m_input, m_packet) >= 0) {
            if ((m_packet->flags & AV_PKT_FLAG_CORRUPT) == 0) {
                av_packet_rescale_ts(m_packet, in->time_base, out->time_base);
                m_packet->stream_index = 0;
                m_packet->pos = -1;
                ok = av_write_frame(m_output, m_packet) >= 0;
                ++frames;
            }
            av_packet_unref(m_packet);
        }
        ok = ok && av_write_trailer(m_output) >= 0;
        avio_flush(m_outputIo);
        if (!ok || m_outputIo->error < 0 || output.HasFailed()) {
            error = "cannot write the repaired file: " + output.LastError();
            return -1;
        }
        return frames;
    }

private:
    AVIOContext* m_inputIo = nullptr;
    AVFormatContext* m_input = nullptr;
    AVIOContext* m_outputIo = nullptr;
    AVFormatContext* m_output = nullptr;
    AVPacket* m_packet = nullptr;
};

} // namespace

bool RepairWindowsMedia(const InputFile& file, std::ostream& out, std::string& error) {
    const AsfFileProperties properties = ReadAsfFileProperties(file);
    const uint64_t dataStart = properties.headerBytes + kDataObjectHeadBytes;
    if (!properties.found || properties.packetSize != CVideoWriter::kAsfPacketBytes ||
        dataStart > file.Size()) {
        error = "not a Windows Media recording of Quillon ID, or cut inside its header";
        return false;
    }
    const TrailerPart trailerPart = FindTrailer(file, properties);
    // A finished file keeps its index after the packets; one cut inside its packets ends at its
    // last whole packet, whatever came after it was cut.
    LimitedInput input{&file, trailerPart.videoEnd};
    const uint64_t packetsEnd = dataStart + properties.packets * properties.packetSize;
    if (properties.fileSize == 0 || input.end < packetsEnd)
        input.end =
            dataStart + (input.end - dataStart) / properties.packetSize * properties.packetSize;

    Remuxer remuxer;
    if (!remuxer.Open(input, error))
        return false;
    ReplacementFile replacement(file.Path());
    if (!replacement.IsReady()) {
        error = replacement.Error();
        return false;
    }
    LocalFileOutput output(replacement.Path());
    const int64_t frames = remuxer.CopyTo(output, error);
    if (frames < 0)
        return false;
    const bool keepTimes = trailerPart.times.size() >= uint64_t(frames) &&
                           (trailerPart.whole ? trailerPart.times.size() == uint64_t(frames)
                                              : !trailerPart.times.empty());
    if (keepTimes) {
        const std::vector<uint32_t> times(trailerPart.times.begin(),
                                          trailerPart.times.begin() + frames);
        if (!AppendFrameTimeTrailer(output, times, &error))
            return false;
    }
    if (!output.Close() || !replacement.Commit()) {
        error = output.HasFailed() ? output.LastError() : replacement.Error();
        return false;
    }
    out << "repaired: Windows Media, " << frames << " whole frames kept, "
        << (keepTimes ? "frame times kept" : "no frame times (the trailer was not written)")
        << "\n";
    return true;
}

} // namespace quillon::inspect
