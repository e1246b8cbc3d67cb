// AVI recordings: walks every RIFF segment, reads the headers, finds each frame and its time,
// and checks the counts and indexes against the chunks that are really there.

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <vector>

#include "Inspection.h"
#include "PngWriter.h"
#include "recording/AviFormat.h"

namespace quillon::inspect {

using namespace avi;

namespace {

constexpr uint32_t kMainHeaderBytes = 56;
constexpr uint32_t kStreamHeaderBytes = 56;
constexpr size_t kMaxReportedIndexProblems = 3;
// "rec " lists group the chunks of one moment in the movi list; writers nest them no deeper.
// A file that nests lists deeper is not followed down (it would run the reader out of stack).
constexpr int kMaxMoviListDepth = 2;

struct MainHeader {
    bool present = false;
    uint32_t microSecPerFrame = 0, maxBytesPerSec = 0, flags = 0, totalFrames = 0, streams = 0,
             suggestedBuffer = 0, width = 0, height = 0;
};

struct SuperEntry {
    uint64_t offset;
    uint32_t size;
    uint32_t duration;
};

struct Stream {
    uint8_t header[kStreamHeaderBytes] = {};
    bool hasHeader = false;
    std::vector<uint8_t> format;
    std::string name;
    std::vector<SuperEntry> superIndex;
};

struct Chunk {
    uint64_t data; // offset of the chunk's data
    uint32_t size;
};

std::string Text(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (p[i] >= 32 && p[i] < 127) ? char(p[i]) : '.';
    return s;
}

class AviReader {
public:
    AviReader(const InputFile& file, std::ostream& out, Inspection& result)
        : m_file(file), m_out(out), m_result(result) {}

    void Read();
    void Report();
    void Export(const Options& options);
    // Each video chunk with the time of its timing chunk, as far as both are whole.
    std::vector<AviFrame> Frames() const {
        std::vector<AviFrame> frames;
        for (size_t i = 0; i < std::min(m_frames.size(), m_times.size()); ++i)
            frames.push_back({m_frames[i].data, m_frames[i].size, m_times[i]});
        return frames;
    }

private:
    bool Head(uint64_t pos, uint8_t (&head)[12], uint64_t end) {
        return pos + 8 <= end && m_file.Read(pos, head, std::min<uint64_t>(12, end - pos));
    }
    void WalkRiff(uint64_t pos, uint64_t end, int segment);
    void WalkHeaderList(uint64_t pos, uint64_t end);
    void WalkStreamList(uint64_t pos, uint64_t end);
    void WalkMovi(uint64_t pos, uint64_t end, int depth = 0);
    void ReadSuperIndex(Stream& stream, uint64_t data, uint32_t size);
    void CheckStructure();
    void CheckLegacyIndex();
    void CheckSuperIndex(int stream);
    bool ChunkAt(uint64_t pos, const FourCC& code, uint32_t size);

    const InputFile& m_file;
    std::ostream& m_out;
    Inspection& m_result;
    MainHeader m_main;
    std::vector<Stream> m_streams;
    int m_segments = 0;
    bool m_odml = false;
    uint32_t m_dmlhFrames = 0;
    uint64_t m_firstMoviCode = 0;
    bool m_hasIdx1 = false;
    uint64_t m_idx1Data = 0;
    uint32_t m_idx1Size = 0;
    uint32_t m_firstRiffFrames = 0;
    std::vector<Chunk> m_frames;
    std::vector<uint32_t> m_times;
    bool m_truncated = false;
};

void AviReader::Read() {
    uint64_t pos = 0;
    while (pos < m_file.Size() && !m_truncated) {
        uint8_t head[12];
        if (pos + 12 > m_file.Size() || !m_file.Read(pos, head, 12) || !IsFourCC(head, kRiff)) {
            m_result.Problem(m_segments == 0 ? "not a RIFF file"
                                             : "unexpected data after RIFF segment " +
                                                   std::to_string(m_segments - 1));
            return;
        }
        const FourCC& form = m_segments == 0 ? kFormAvi : kFormAvix;
        if (!IsFourCC(head + 8, form))
            m_result.Problem("RIFF segment " + std::to_string(m_segments) + " has form '" +
                             Text(head + 8, 4) + "'");
        const uint32_t size = GetLe32(head + 4);
        uint64_t end = pos + 8 + size;
        if (size == 0) {
            m_result.Problem("RIFF segment " + std::to_string(m_segments) +
                             " has no size: the recording was not finished");
            end = m_file.Size();
        } else if (end > m_file.Size()) {
            m_result.Problem("truncated: RIFF segment " + std::to_string(m_segments) + " needs " +
                             std::to_string(end - m_file.Size()) + " more bytes");
            end = m_file.Size();
        }
        WalkRiff(pos + 12, end, m_segments);
        if (m_segments == 0)
            m_firstRiffFrames = uint32_t(m_frames.size());
        ++m_segments;
        pos = end + (end & 1);
    }
}

void AviReader::WalkRiff(uint64_t pos, uint64_t end, int segment) {
    uint8_t head[12];
    while (Head(pos, head, end)) {
        const uint32_t size = GetLe32(head + 4);
        uint64_t dataEnd = pos + 8 + uint64_t(size);
        const bool isList = IsFourCC(head, kList) && pos + 12 <= end;
        if (isList && IsFourCC(head + 8, kMovi)) {
            if (segment == 0)
                m_firstMoviCode = pos + 8;
            if (size == 0) {
                m_result.Problem("movi list of RIFF segment " + std::to_string(segment) +
                                 " has no size: the recording was not finished");
                dataEnd = end;
            }
            WalkMovi(pos + 12, std::min(dataEnd, end));
        } else if (dataEnd > end) {
            m_result.Problem("truncated: chunk '" + Text(head, 4) + "' at offset " +
                             std::to_string(pos) + " runs past its RIFF segment");
            m_truncated = true;
            return;
        } else if (isList && IsFourCC(head + 8, kHdrl)) {
            WalkHeaderList(pos + 12, dataEnd);
        } else if (IsFourCC(head, kIdx1) && segment == 0) {
            m_hasIdx1 = true;
            m_idx1Data = pos + 8;
            m_idx1Size = size;
        }
        pos = dataEnd + (dataEnd & 1);
    }
}

void AviReader::WalkHeaderList(uint64_t pos, uint64_t end) {
    uint8_t head[12];
    while (Head(pos, head, end)) {
        const uint32_t size = GetLe32(head + 4);
        const uint64_t dataEnd = std::min(pos + 8 + uint64_t(size), end);
        if (IsFourCC(head, kAvih) && size >= kMainHeaderBytes) {
            uint8_t h[kMainHeaderBytes];
            m_file.Read(pos + 8, h, sizeof h);
            m_main = {true,
                      GetLe32(h),
                      GetLe32(h + 4),
                      GetLe32(h + 12),
                      GetLe32(h + 16),
                      GetLe32(h + 24),
                      GetLe32(h + 28),
                      GetLe32(h + 32),
                      GetLe32(h + 36)};
        } else if (IsFourCC(head, kList) && IsFourCC(head + 8, kStrl)) {
            WalkStreamList(pos + 12, dataEnd);
        } else if (IsFourCC(head, kList) && IsFourCC(head + 8, kOdml)) {
            uint8_t dmlh[12];
            if (m_file.Read(pos + 12, dmlh, sizeof dmlh) && IsFourCC(dmlh, kDmlh)) {
                m_odml = true;
                m_dmlhFrames = GetLe32(dmlh + 8);
            }
        }
        pos = dataEnd + (dataEnd & 1);
    }
}

void AviReader::WalkStreamList(uint64_t pos, uint64_t end) {
    Stream stream;
    uint8_t head[12];
    while (Head(pos, head, end)) {
        const uint32_t size = GetLe32(head + 4);
        const uint64_t dataEnd = std::min(pos + 8 + uint64_t(size), end);
        const uint32_t available = uint32_t(dataEnd - pos - 8);
        if (IsFourCC(head, kStrh) && available >= kStreamHeaderBytes) {
            stream.hasHeader = m_file.Read(pos + 8, stream.header, kStreamHeaderBytes);
        } else if (IsFourCC(head, kStrf)) {
            stream.format.resize(available);
            m_file.Read(pos + 8, stream.format.data(), available);
        } else if (IsFourCC(head, kStrn)) {
            std::string name(available, '\0');
            m_file.Read(pos + 8, name.data(), available);
            stream.name = name.substr(0, name.find('\0'));
        } else if (IsFourCC(head, kIndx)) {
            ReadSuperIndex(stream, pos + 8, available);
        }
        pos = dataEnd + (dataEnd & 1);
    }
    m_streams.push_back(std::move(stream));
}

void AviReader::ReadSuperIndex(Stream& stream, uint64_t data, uint32_t size) {
    uint8_t h[kSuperIndexHeaderBytes];
    if (size < sizeof h || !m_file.Read(data, h, sizeof h) || h[3] != kIndexOfIndexes)
        return;
    const uint32_t used =
        std::min(GetLe32(h + 4), (size - kSuperIndexHeaderBytes) / kSuperIndexEntryBytes);
    for (uint32_t i = 0; i < used; ++i) {
        uint8_t e[kSuperIndexEntryBytes];
        m_file.Read(data + kSuperIndexHeaderBytes + i * kSuperIndexEntryBytes, e, sizeof e);
        stream.superIndex.push_back({GetLe64(e), GetLe32(e + 8), GetLe32(e + 12)});
    }
}

void AviReader::WalkMovi(uint64_t pos, uint64_t end, int depth) {
    uint8_t head[12];
    while (Head(pos, head, end)) {
        const uint32_t size = GetLe32(head + 4);
        const uint64_t dataEnd = pos + 8 + uint64_t(size);
        if (dataEnd > end) {
            m_result.Problem("truncated: chunk '" + Text(head, 4) + "' at offset " +
                             std::to_string(pos) + " (after frame " +
                             std::to_string(m_frames.size()) + ") is cut off");
            m_truncated = true;
            return;
        }
        if (IsFourCC(head, kChunkId[kVideo])) {
            m_frames.push_back({pos + 8, size});
        } else if (IsFourCC(head, kChunkId[kTiming])) {
            uint8_t time[4] = {};
            if (size >= 4)
                m_file.Read(pos + 8, time, 4);
            m_times.push_back(GetLe32(time));
        } else if (IsFourCC(head, kList) && depth < kMaxMoviListDepth) {
            WalkMovi(pos + 12, dataEnd, depth + 1); // "rec " lists group chunks
        } else if (IsFourCC(head, kList)) {
            m_result.Problem("lists nested too deep in the movi list at offset " +
                             std::to_string(pos));
            m_truncated = true;
            return;
        }
        pos = dataEnd + (dataEnd & 1);
    }
}

void AviReader::Report() {
    m_out << "kind: AVI (2)\nRIFF segments: " << m_segments
          << (m_odml ? " (OpenDML, " + std::to_string(m_dmlhFrames) + " frames in dmlh)" : "")
          << "\n";
    if (m_main.present)
        m_out << "avih: " << m_main.microSecPerFrame << " us per frame, max "
              << m_main.maxBytesPerSec << " bytes/s, flags 0x" << std::hex << m_main.flags
              << std::dec << ", total frames " << m_main.totalFrames << ", streams "
              << m_main.streams << ", suggested buffer " << m_main.suggestedBuffer << ", size "
              << m_main.width << "x" << m_main.height << "\n";
    for (size_t i = 0; i < m_streams.size(); ++i) {
        const Stream& s = m_streams[i];
        const uint8_t* h = s.header;
        m_out << "stream " << i << ": '" << Text(h, 4) << "' handler '" << Text(h + 4, 4)
              << "', scale " << GetLe32(h + 20) << ", rate " << GetLe32(h + 24) << ", length "
              << GetLe32(h + 32) << ", suggested buffer " << GetLe32(h + 36) << ", quality "
              << int32_t(GetLe32(h + 40)) << ", frame (" << int16_t(GetLe16(h + 48)) << ","
              << int16_t(GetLe16(h + 50)) << "," << int16_t(GetLe16(h + 52)) << ","
              << int16_t(GetLe16(h + 54)) << "), name \"" << s.name << "\"\n";
        if (s.format.size() >= kBitmapInfoHeaderBytes)
            m_out << "  format: bitmap " << GetLe32(&s.format[4]) << "x"
                  << int32_t(GetLe32(&s.format[8])) << ", " << GetLe16(&s.format[14])
                  << " bits, compression " << GetLe32(&s.format[16]) << ", image size "
                  << GetLe32(&s.format[20]) << "\n";
        else if (s.format.size() == 4)
            m_out << "  format: 4 bytes, value " << GetLe32(s.format.data()) << "\n";
        if (!s.superIndex.empty())
            m_out << "  super index: " << s.superIndex.size() << " segment indexes\n";
    }
    m_out << "index: " << (m_hasIdx1 ? "idx1" : "none") << (m_odml ? " + OpenDML" : "") << "\n";
    m_out << "frames: " << m_frames.size() << "\n";
    for (size_t i = 0; i < m_frames.size(); ++i) {
        m_out << "frame " << i << ": ";
        if (i < m_times.size())
            m_out << "time " << m_times[i] << " ms\n";
        else
            m_out << "no time\n";
    }
    CheckStructure();
}

void AviReader::CheckStructure() {
    if (!m_main.present || m_streams.size() != 2 || !m_streams[0].hasHeader ||
        !m_streams[1].hasHeader || m_streams[0].format.size() < kBitmapInfoHeaderBytes) {
        if (m_segments > 0)
            m_result.Problem("headers incomplete: expected avih and a video and a timing stream");
        return;
    }
    const uint8_t* video = m_streams[0].header;
    const std::vector<uint8_t>& bitmap = m_streams[0].format;
    if (!IsFourCC(video, kVids) || !IsFourCC(m_streams[1].header, kTxts))
        m_result.Problem("streams are not 'vids' and 'txts'");
    if (GetLe16(&bitmap[14]) != kBitCount || GetLe32(&bitmap[16]) != 0)
        m_result.Problem("video is not uncompressed 24-bit");
    const uint64_t rowBytes = (uint64_t(GetLe32(&bitmap[4])) * 3 + 3) & ~uint64_t(3);
    const uint64_t expected = rowBytes * uint32_t(std::abs(int32_t(GetLe32(&bitmap[8]))));
    for (size_t i = 0; i < m_frames.size(); ++i)
        if (m_frames[i].size != expected) {
            m_result.Problem("frame " + std::to_string(i) + " holds " +
                             std::to_string(m_frames[i].size) + " bytes, not " +
                             std::to_string(expected));
            break;
        }
    const auto frames = uint32_t(m_frames.size());
    if (m_times.size() != frames)
        m_result.Problem(std::to_string(frames) + " frames but " + std::to_string(m_times.size()) +
                         " times");
    if (GetLe32(video + 32) != frames)
        m_result.Problem("video stream header says " + std::to_string(GetLe32(video + 32)) +
                         " frames, the file holds " + std::to_string(frames));
    const uint32_t mainExpected = m_odml ? m_firstRiffFrames : frames;
    if (m_main.totalFrames != mainExpected)
        m_result.Problem("avih says " + std::to_string(m_main.totalFrames) + " frames, expected " +
                         std::to_string(mainExpected));
    if (m_odml && m_dmlhFrames != frames)
        m_result.Problem("dmlh says " + std::to_string(m_dmlhFrames) + " frames");
    if ((m_main.flags & kAvifHasIndex) != 0 && !m_hasIdx1)
        m_result.Problem("avih announces an index but there is no idx1");
    if (m_hasIdx1)
        CheckLegacyIndex();
    for (int stream = 0; stream < 2; ++stream)
        if (m_odml || !m_streams[size_t(stream)].superIndex.empty())
            CheckSuperIndex(stream);
}

bool AviReader::ChunkAt(uint64_t pos, const FourCC& code, uint32_t size) {
    uint8_t head[8];
    return m_file.Read(pos, head, sizeof head) && IsFourCC(head, code) && GetLe32(head + 4) == size;
}

void AviReader::CheckLegacyIndex() {
    const uint32_t entries = m_idx1Size / kLegacyIndexEntryBytes;
    std::vector<uint8_t> index(size_t(entries) * kLegacyIndexEntryBytes);
    m_file.Read(m_idx1Data, index.data(), index.size());
    uint32_t videoEntries = 0;
    size_t problems = 0;
    for (uint32_t i = 0; i < entries && problems < kMaxReportedIndexProblems; ++i) {
        const uint8_t* e = &index[size_t(i) * kLegacyIndexEntryBytes];
        FourCC code;
        std::memcpy(code.data(), e, 4);
        videoEntries += code == kChunkId[kVideo];
        if (!ChunkAt(m_firstMoviCode + GetLe32(e + 8), code, GetLe32(e + 12))) {
            m_result.Problem("idx1 entry " + std::to_string(i) + " points at no '" + Text(e, 4) +
                             "' chunk");
            ++problems;
        }
    }
    if (videoEntries != m_firstRiffFrames)
        m_result.Problem("idx1 lists " + std::to_string(videoEntries) +
                         " frames, the first RIFF holds " + std::to_string(m_firstRiffFrames));
}

void AviReader::CheckSuperIndex(int stream) {
    const std::vector<SuperEntry>& entries = m_streams[size_t(stream)].superIndex;
    uint64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t h[kChunkHeaderBytes + kStandardIndexHeaderBytes];
        if (!m_file.Read(entries[i].offset, h, sizeof h) ||
            !IsFourCC(h, kStandardIndexId[stream]) || h[11] != kIndexOfChunks ||
            GetLe32(h + 12) != entries[i].duration) {
            m_result.Problem("super index entry " + std::to_string(i) + " of stream " +
                             std::to_string(stream) + " points at no matching ix chunk");
            return;
        }
        const uint64_t base = GetLe64(h + 20);
        for (uint32_t k = 0; k < entries[i].duration; ++k) {
            uint8_t e[kStandardIndexEntryBytes];
            m_file.Read(entries[i].offset + sizeof h + uint64_t(k) * sizeof e, e, sizeof e);
            if (!ChunkAt(base + GetLe32(e) - kChunkHeaderBytes, kChunkId[stream],
                         GetLe32(e + 4) & 0x7FFFFFFF)) {
                m_result.Problem("ix chunk of segment " + std::to_string(i) + ", stream " +
                                 std::to_string(stream) + ": entry " + std::to_string(k) +
                                 " points at no chunk");
                return;
            }
        }
        total += entries[i].duration;
    }
    if (total != m_frames.size())
        m_result.Problem("OpenDML indexes of stream " + std::to_string(stream) + " list " +
                         std::to_string(total) + " samples, the file holds " +
                         std::to_string(m_frames.size()));
}

void AviReader::Export(const Options& options) {
    if (m_streams.empty() || m_streams[0].format.size() < kBitmapInfoHeaderBytes)
        return;
    const uint32_t width = GetLe32(&m_streams[0].format[4]);
    const int32_t signedHeight = int32_t(GetLe32(&m_streams[0].format[8]));
    const uint32_t height = uint32_t(std::abs(signedHeight));
    const uint64_t rowBytes = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
    std::vector<uint8_t> sample(rowBytes * height), rgb(size_t(width) * height * 3);
    PngWriter png;
    for (size_t i = 0; i < m_frames.size(); ++i) {
        if (m_frames[i].size != sample.size() ||
            !m_file.Read(m_frames[i].data, sample.data(), sample.size()))
            continue;
        for (uint32_t y = 0; y < height; ++y) {
            // Positive heights store the bottom row first.
            const uint8_t* src = &sample[(signedHeight > 0 ? height - 1 - y : y) * rowBytes];
            uint8_t* dst = &rgb[size_t(y) * width * 3];
            for (uint32_t x = 0; x < width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        }
        std::string error;
        if (!png.Write(ExportPath(options, uint32_t(i)), width, height, PngWriter::Pixels::Rgb,
                       rgb.data(), 0, &error)) {
            m_result.Problem("export failed: " + error);
            return;
        }
        ++m_result.exported;
    }
}

} // namespace

std::vector<AviFrame> ReadAviFrames(const InputFile& file) {
    std::ostringstream ignored;
    Inspection result;
    AviReader reader(file, ignored, result);
    reader.Read();
    return reader.Frames();
}

void InspectAvi(const InputFile& file, const Options& options, std::ostream& out,
                Inspection& result) {
    AviReader reader(file, out, result);
    reader.Read();
    reader.Report();
    if (!options.exportDir.empty())
        reader.Export(options);
}

} // namespace quillon::inspect
