#include "recording/AviFormat.h"

#include <cstring>

namespace quillon::avi {

namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000;
constexpr uint32_t kSuggestedBytesPerPixel = 4;

// Appends RIFF chunks and lists to a byte vector; sizes are filled in when a chunk ends.
class RiffBuilder {
public:
    size_t Pos() const { return m_bytes.size(); }
    size_t BeginChunk(const FourCC& code) {
        Code(code);
        size_t sizePos = Pos();
        Le32(0);
        return sizePos;
    }
    size_t BeginList(const FourCC& type) {
        size_t sizePos = BeginChunk(kList);
        Code(type);
        return sizePos;
    }
    // A chunk's size counts its data, not the pad byte that keeps the next chunk even.
    void End(size_t sizePos) {
        PutLe32(&m_bytes[sizePos], static_cast<uint32_t>(Pos() - sizePos - 4));
        if (Pos() % 2 != 0)
            m_bytes.push_back(0);
    }
    void Code(const FourCC& code) { m_bytes.insert(m_bytes.end(), code.begin(), code.end()); }
    void Le16(uint16_t v) { Append(v, 2); }
    void Le32(uint32_t v) { Append(v, 4); }
    void Zeros(size_t n) { m_bytes.insert(m_bytes.end(), n, 0); }
    void Text(const char* text) { // with its terminator
        m_bytes.insert(m_bytes.end(), text, text + std::strlen(text) + 1);
    }
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

private:
    void Append(uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t> m_bytes;
};

struct StreamHeader {
    FourCC type;
    FourCC handler;
    uint32_t suggestedBufferSize;
    uint32_t quality;
    int16_t frameLeft, frameTop, frameRight, frameBottom;
};

void WriteStreamHeader(RiffBuilder& b, const StreamHeader& h, uint32_t rate, uint64_t& lengthPos) {
    size_t chunk = b.BeginChunk(kStrh);
    b.Code(h.type);
    b.Code(h.handler);
    b.Le32(0); // dwFlags
    b.Le16(0); // wPriority
    b.Le16(0); // wLanguage
    b.Le32(0); // dwInitialFrames
    b.Le32(1); // dwScale
    b.Le32(rate);
    b.Le32(0); // dwStart
    lengthPos = b.Pos();
    b.Le32(0); // dwLength, known at the end
    b.Le32(h.suggestedBufferSize);
    b.Le32(h.quality);
    b.Le32(0); // dwSampleSize: one sample per chunk
    b.Le16(static_cast<uint16_t>(h.frameLeft));
    b.Le16(static_cast<uint16_t>(h.frameTop));
    b.Le16(static_cast<uint16_t>(h.frameRight));
    b.Le16(static_cast<uint16_t>(h.frameBottom));
    b.End(chunk);
}

void WriteBitmapInfoHeader(RiffBuilder& b, const StreamGeometry& g) {
    size_t chunk = b.BeginChunk(kStrf);
    b.Le32(kBitmapInfoHeaderBytes);
    b.Le32(g.width);
    b.Le32(g.height); // positive: rows bottom-up
    b.Le16(1);        // biPlanes
    b.Le16(kBitCount);
    b.Le32(0); // biCompression: uncompressed RGB
    b.Le32(g.sampleBytes);
    b.Zeros(16); // resolution and palette fields
    b.End(chunk);
}

// Space for the super index; it stays JUNK unless the file grows past its first RIFF.
void ReserveSuperIndex(RiffBuilder& b, uint64_t& pos) {
    pos = b.Pos();
    size_t chunk = b.BeginChunk(kJunk);
    b.Zeros(kSuperIndexBytes);
    b.End(chunk);
}

void WriteStreamName(RiffBuilder& b, const char* name) {
    size_t chunk = b.BeginChunk(kStrn);
    b.Text(name);
    b.End(chunk);
}

} // namespace

StreamGeometry MakeGeometry(uint32_t rate, uint32_t width, uint32_t height) {
    StreamGeometry g;
    g.rate = rate == 0 ? 1 : rate;
    g.width = width;
    g.height = height;
    g.rowBytes = (width * 3 + 3) & ~3u;
    g.sampleBytes = g.rowBytes * height;
    return g;
}

std::vector<uint8_t> BuildHeader(const StreamGeometry& g, HeaderFields& fields) {
    const uint32_t videoSuggested = g.width * g.height * kSuggestedBytesPerPixel;
    const uint32_t frameRecordBytes = 2 * kChunkHeaderBytes + g.sampleBytes + kTimeBytes;

    RiffBuilder b;
    b.Code(kRiff);
    b.Le32(0); // RIFF size: 0 until finished, which FFmpeg reads as "up to the end of the file"
    b.Code(kFormAvi);
    size_t hdrl = b.BeginList(kHdrl);

    size_t avih = b.BeginChunk(kAvih);
    b.Le32(kMicrosecondsPerSecond / g.rate);
    b.Le32(static_cast<uint32_t>(uint64_t(frameRecordBytes) * g.rate)); // dwMaxBytesPerSec
    b.Le32(0);                                                          // dwPaddingGranularity
    fields.avihFlags = b.Pos();
    b.Le32(0); // dwFlags: no index until one is written
    fields.avihTotalFrames = b.Pos();
    b.Le32(0); // dwTotalFrames
    b.Le32(0); // dwInitialFrames
    b.Le32(kStreamCount);
    b.Le32(videoSuggested);
    b.Le32(g.width);
    b.Le32(g.height);
    b.Zeros(16); // dwReserved
    b.End(avih);

    size_t videoList = b.BeginList(kStrl);
    const auto w = static_cast<int16_t>(g.width);
    const auto h = static_cast<int16_t>(g.height);
    WriteStreamHeader(b, {kVids, {0, 0, 0, 0}, videoSuggested, kDefaultQuality, 0, 0, w, h}, g.rate,
                      fields.streamLength[kVideo]);
    WriteBitmapInfoHeader(b, g);
    ReserveSuperIndex(b, fields.superIndex[kVideo]);
    WriteStreamName(b, kVideoStreamName);
    b.End(videoList);

    size_t timingList = b.BeginList(kStrl);
    const auto timingBottom = static_cast<int16_t>(g.height + kTimingFrameExtraHeight);
    WriteStreamHeader(b, {kTxts, kDraw, kTimeBytes, 0, 0, h, w, timingBottom}, g.rate,
                      fields.streamLength[kTiming]);
    size_t timingFormat = b.BeginChunk(kStrf);
    b.Le32(kTimingFormatValue);
    b.End(timingFormat);
    ReserveSuperIndex(b, fields.superIndex[kTiming]);
    WriteStreamName(b, kTimingStreamName);
    b.End(timingList);

    fields.odml = b.Pos();
    size_t odml = b.BeginChunk(kJunk);
    b.Zeros(kOdmlListBytes);
    b.End(odml);

    b.End(hdrl);
    return b.Take();
}

} // namespace quillon::avi
