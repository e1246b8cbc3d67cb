#include "recording/AviWriter.h"

#include <algorithm>

namespace quillon {

using namespace avi;

namespace {

constexpr size_t kZeroBlockBytes = 64 * 1024;
const uint8_t kZeroBlock[kZeroBlockBytes] = {};
constexpr uint16_t kSuperIndexLongsPerEntry = 4;
constexpr uint16_t kStandardIndexLongsPerEntry = 2;

uint32_t StandardIndexBytes(uint32_t entries) {
    return kStandardIndexHeaderBytes + kStandardIndexEntryBytes * entries;
}

uint64_t FrameRecordBytes(const StreamGeometry& g) {
    return kChunkHeaderBytes + uint64_t(g.sampleBytes) + kChunkHeaderBytes + kTimeBytes;
}

} // namespace

bool AviWriter::Create(uint32_t rate, uint32_t width, uint32_t height) {
    if (!m_output.IsOpen())
        return Fail(m_output.LastError());
    // A frame must leave room for headers and indexes inside one 1 GiB segment.
    const uint64_t paddedSample = ((uint64_t(width) * 3 + 3) & ~uint64_t(3)) * height;
    if (width == 0 || height == 0 || paddedSample > kMaxRiffBytes / 2)
        return Fail("frame size " + std::to_string(width) + "x" + std::to_string(height) +
                    " cannot be recorded as AVI");

    m_geometry = MakeGeometry(rate, width, height);
    std::vector<uint8_t> header = BuildHeader(m_geometry, m_fields);
    const uint64_t framesPerRiff = (kMaxRiffBytes - header.size()) / FrameRecordBytes(m_geometry);
    m_indexCapacity = static_cast<uint32_t>(std::min<uint64_t>(
        std::clamp<uint32_t>(m_framesPerSegment, 1, kMaxFramesPerSegment), framesPerRiff));
    m_entries.reserve(m_indexCapacity);
    m_parts.reserve(2 * size_t(height) + 2);

    if (!m_output.Write(header.data(), header.size())) {
        Fail(m_output.LastError());
        m_output.Truncate(0); // half a header helps no reader
        return false;
    }
    m_appendPos = header.size();
    if (!StartSegment()) {
        m_output.Truncate(0);
        return false;
    }
    m_created = true;
    return true;
}

bool AviWriter::StartSegment() {
    if (m_segmentCount == kSuperIndexSlots)
        return Fail("the AVI file has reached its largest size");
    Segment& segment = m_segments[m_segmentCount];
    segment = Segment{};
    uint64_t pos = m_appendPos;
    bool ok = true;
    if (m_segmentCount > 0) {
        segment.riffStart = pos;
        FieldBlock<kListHeaderBytes> riff;
        riff.Code(kRiff);
        riff.Le32(0); // 0 until the segment closes: "to the end of the file"
        riff.Code(kFormAvix);
        ok = m_output.Write(riff.Data(), riff.Size());
        pos += riff.Size();
    }
    segment.moviStart = pos;
    FieldBlock<kListHeaderBytes> movi;
    movi.Code(kList);
    movi.Le32(0);
    movi.Code(kMovi);
    ok = ok && m_output.Write(movi.Data(), movi.Size());
    pos += movi.Size();

    if (m_segmentCount > 0) {
        const uint32_t indexBytes = StandardIndexBytes(m_indexCapacity);
        segment.indexBytes = kChunkHeaderBytes + indexBytes;
        for (int stream = 0; stream < kStreamCount; ++stream) {
            segment.indexStart[stream] = pos;
            FieldBlock<kChunkHeaderBytes> junk;
            junk.Code(kJunk);
            junk.Le32(indexBytes);
            ok = ok && m_output.Write(junk.Data(), junk.Size()) && WriteZeros(indexBytes);
            pos += segment.indexBytes;
        }
    }
    if (!ok || !m_output.Flush())
        return Fail(m_output.LastError());
    m_appendPos = pos;
    ++m_segmentCount;
    m_segmentOpen = true;
    m_entries.clear();
    return true;
}

bool AviWriter::FitsInSegment() const {
    if (m_entries.size() >= m_indexCapacity)
        return false;
    const Segment& segment = m_segments[m_segmentCount - 1];
    uint64_t end = m_appendPos + FrameRecordBytes(m_geometry);
    if (m_segmentCount == 1) {
        // The first RIFF also holds, after its frames, its ix00/ix01 and the idx1 index.
        const uint64_t frames = m_entries.size() + 1;
        end += kStreamCount *
               (kChunkHeaderBytes + kStandardIndexHeaderBytes + frames * kStandardIndexEntryBytes);
        end += kChunkHeaderBytes + frames * kStreamCount * kLegacyIndexEntryBytes;
    }
    return end - segment.riffStart <= kMaxRiffBytes;
}

bool AviWriter::WriteFrame(uint32_t width, uint32_t height, const uint8_t* bgrTopDown,
                           uint16_t bitsPerPixel, uint32_t time) {
    if (!m_created || m_finished || bgrTopDown == nullptr)
        return false;
    if (width != m_geometry.width || height != m_geometry.height || bitsPerPixel != kBitCount)
        return false;
    if (!FitsInSegment()) {
        m_openDml = true;
        if (!CloseSegment())
            return Fail(m_output.LastError());
        UpdateHeaders(); // an unfinished file then still describes every closed segment
        if (!StartSegment())
            return false;
    }
    if (!WriteFrameChunks(bgrTopDown, time))
        return Fail(m_output.LastError());
    ++m_segments[m_segmentCount - 1].frames;
    ++m_nFrames;
    if (m_segmentCount == 1)
        ++m_firstRiffFrames;
    return true;
}

bool AviWriter::WriteFrameChunks(const uint8_t* bgrTopDown, uint32_t time) {
    const uint64_t chunkPos = m_appendPos;
    FieldBlock<kChunkHeaderBytes> head;
    head.Code(kChunkId[kVideo]);
    head.Le32(m_geometry.sampleBytes);
    FieldBlock<kChunkHeaderBytes + kTimeBytes> timing;
    timing.Code(kChunkId[kTiming]);
    timing.Le32(kTimeBytes);
    timing.Le32(time);

    // Rows come top-down and go to the file bottom-up, each padded to a multiple of 4 bytes;
    // the whole record goes out in one gathered write, straight from the caller's frame.
    const size_t packedRow = size_t(m_geometry.width) * 3;
    const size_t padding = m_geometry.rowBytes - packedRow;
    m_parts.clear();
    m_parts.push_back({head.Data(), head.Size()});
    for (uint32_t y = m_geometry.height; y-- > 0;) {
        m_parts.push_back({bgrTopDown + y * packedRow, packedRow});
        if (padding > 0)
            m_parts.push_back({kZeroBlock, padding});
    }
    m_parts.push_back({timing.Data(), timing.Size()});
    if (!m_output.WriteParts(m_parts.data(), m_parts.size()) || !m_output.EndRecord())
        return false;
    const Segment& segment = m_segments[m_segmentCount - 1];
    m_entries.push_back(static_cast<uint32_t>(chunkPos - (segment.moviStart + 8)));
    m_appendPos = chunkPos + FrameRecordBytes(m_geometry);
    return true;
}

bool AviWriter::CloseSegment() {
    if (!m_segmentOpen)
        return true;
    m_segmentOpen = false;
    Segment& segment = m_segments[m_segmentCount - 1];
    bool ok = true;
    if (m_openDml && !WriteStandardIndexes(segment)) {
        ok = false;
        if (m_segmentCount == 1) // no room to go on past 1 GiB: the file stays a plain AVI
            m_openDml = false;
    }
    const uint64_t moviEnd = m_appendPos;
    ok = PatchLe32(segment.moviStart + 4, uint32_t(moviEnd - (segment.moviStart + 8))) && ok;
    if (m_segmentCount == 1)
        m_hasLegacyIndex = WriteLegacyIndex();
    ok = PatchLe32(segment.riffStart + 4, uint32_t(m_appendPos - (segment.riffStart + 8))) && ok;
    return m_output.Seek(int64_t(m_appendPos), SeekOrigin::Begin) && ok;
}

bool AviWriter::WriteStandardIndexes(Segment& segment) {
    if (m_segmentCount > 1) { // into the space reserved at the segment's start
        bool ok = true;
        for (int stream = 0; stream < kStreamCount; ++stream)
            ok = ok && m_output.Seek(int64_t(segment.indexStart[stream]), SeekOrigin::Begin) &&
                 WriteStandardIndex(segment, stream, StandardIndexBytes(m_indexCapacity));
        return ok && m_output.Flush();
    }
    // The first segment's indexes go after its frames, still inside its movi list.
    const uint64_t moviEnd = m_appendPos;
    const uint32_t indexBytes = StandardIndexBytes(static_cast<uint32_t>(m_entries.size()));
    segment.indexBytes = kChunkHeaderBytes + indexBytes;
    bool ok = m_output.Seek(int64_t(moviEnd), SeekOrigin::Begin);
    for (int stream = 0; ok && stream < kStreamCount; ++stream) {
        segment.indexStart[stream] = moviEnd + uint64_t(stream) * segment.indexBytes;
        ok = WriteStandardIndex(segment, stream, indexBytes);
    }
    if (ok && m_output.Flush()) {
        m_appendPos = moviEnd + kStreamCount * uint64_t(segment.indexBytes);
        return true;
    }
    m_output.Truncate(moviEnd);
    return false;
}

bool AviWriter::WriteStandardIndex(const Segment& segment, int stream, uint32_t chunkBytes) {
    FieldBlock<kChunkHeaderBytes + kStandardIndexHeaderBytes> head;
    head.Code(kStandardIndexId[stream]);
    head.Le32(chunkBytes);
    head.Le16(kStandardIndexLongsPerEntry);
    head.U8(0); // bIndexSubType
    head.U8(kIndexOfChunks);
    head.Le32(static_cast<uint32_t>(m_entries.size()));
    head.Code(kChunkId[stream]);
    head.Le64(segment.moviStart + 8); // qwBaseOffset: the "movi" code
    head.Le32(0);                     // dwReserved
    bool ok = m_output.Write(head.Data(), head.Size());
    // Each entry points at its chunk's data; size bit 31 clear: every sample is a key frame.
    const uint32_t dataOffset =
        stream == kVideo ? kChunkHeaderBytes : 2 * kChunkHeaderBytes + m_geometry.sampleBytes;
    const uint32_t size = stream == kVideo ? m_geometry.sampleBytes : kTimeBytes;
    for (size_t i = 0; ok && i < m_entries.size(); ++i) {
        FieldBlock<kStandardIndexEntryBytes> entry;
        entry.Le32(m_entries[i] + dataOffset);
        entry.Le32(size);
        ok = m_output.Write(entry.Data(), entry.Size());
    }
    return ok;
}

bool AviWriter::WriteLegacyIndex() {
    const uint64_t moviEnd = m_appendPos;
    FieldBlock<kChunkHeaderBytes> head;
    head.Code(kIdx1);
    head.Le32(static_cast<uint32_t>(m_entries.size() * kStreamCount * kLegacyIndexEntryBytes));
    bool ok = m_output.Seek(int64_t(moviEnd), SeekOrigin::Begin) &&
              m_output.Write(head.Data(), head.Size());
    for (size_t i = 0; ok && i < m_entries.size(); ++i) {
        // Offsets count from the "movi" code, as the chunks' own positions do in m_entries.
        FieldBlock<kStreamCount * kLegacyIndexEntryBytes> entry;
        entry.Code(kChunkId[kVideo]);
        entry.Le32(kAviifKeyFrame);
        entry.Le32(m_entries[i]);
        entry.Le32(m_geometry.sampleBytes);
        entry.Code(kChunkId[kTiming]);
        entry.Le32(kAviifKeyFrame);
        entry.Le32(m_entries[i] + kChunkHeaderBytes + m_geometry.sampleBytes);
        entry.Le32(kTimeBytes);
        ok = m_output.Write(entry.Data(), entry.Size());
    }
    if (ok && m_output.Flush()) {
        m_appendPos =
            moviEnd + kChunkHeaderBytes + m_entries.size() * kStreamCount * kLegacyIndexEntryBytes;
        return true;
    }
    // No room for the index (full disk): the file stays readable without one.
    m_output.Truncate(moviEnd);
    return false;
}

void AviWriter::UpdateHeaders() {
    bool ok =
        PatchLe32(m_fields.avihFlags, kAvifIsInterleaved | (m_hasLegacyIndex ? kAvifHasIndex : 0));
    ok = PatchLe32(m_fields.avihTotalFrames, m_openDml ? m_firstRiffFrames : m_nFrames) && ok;
    for (int stream = 0; stream < kStreamCount; ++stream)
        ok = PatchLe32(m_fields.streamLength[stream], m_nFrames) && ok;
    if (m_openDml) {
        for (int stream = 0; stream < kStreamCount; ++stream)
            ok = WriteSuperIndex(stream) && ok;
        FieldBlock<kChunkHeaderBytes + kOdmlListBytes> odml;
        odml.Code(kList);
        odml.Le32(kOdmlListBytes);
        odml.Code(kOdml);
        odml.Code(kDmlh);
        odml.Le32(kDmlhBytes);
        odml.Le32(m_nFrames); // dwTotalFrames over all segments
        odml.Zeros(kDmlhBytes - 4);
        ok = ok && m_output.Seek(int64_t(m_fields.odml), SeekOrigin::Begin) &&
             m_output.Write(odml.Data(), odml.Size());
    }
    ok = m_output.Seek(int64_t(m_appendPos), SeekOrigin::Begin) && m_output.Flush() && ok;
    if (!ok && !m_failed) {
        m_failed = true;
        m_error = m_output.LastError();
    }
}

bool AviWriter::WriteSuperIndex(int stream) {
    const uint32_t closed = m_segmentCount - (m_segmentOpen ? 1 : 0);
    FieldBlock<kChunkHeaderBytes + kSuperIndexBytes> indx;
    indx.Code(kIndx);
    indx.Le32(kSuperIndexBytes);
    indx.Le16(kSuperIndexLongsPerEntry);
    indx.U8(0); // bIndexSubType
    indx.U8(kIndexOfIndexes);
    indx.Le32(closed);
    indx.Code(kChunkId[stream]);
    indx.Zeros(12); // dwReserved
    for (uint32_t i = 0; i < closed; ++i) {
        indx.Le64(m_segments[i].indexStart[stream]);
        indx.Le32(m_segments[i].indexBytes);
        indx.Le32(m_segments[i].frames); // dwDuration: samples in that segment
    }
    indx.Zeros(size_t(kSuperIndexSlots - closed) * kSuperIndexEntryBytes);
    return m_output.Seek(int64_t(m_fields.superIndex[stream]), SeekOrigin::Begin) &&
           m_output.Write(indx.Data(), indx.Size());
}

void AviWriter::Finish() {
    if (!m_created || m_finished)
        return;
    m_finished = true;
    if (!CloseSegment() && !m_failed) {
        m_failed = true;
        m_error = m_output.LastError();
    }
    UpdateHeaders();
}

bool AviWriter::PatchLe32(uint64_t offset, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return m_output.Seek(int64_t(offset), SeekOrigin::Begin) && m_output.Write(bytes, sizeof bytes);
}

bool AviWriter::WriteZeros(uint64_t count) {
    while (count > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, kZeroBlockBytes));
        if (!m_output.Write(kZeroBlock, n))
            return false;
        count -= n;
    }
    return true;
}

bool AviWriter::Fail(const std::string& text) {
    m_failed = true;
    m_error = text;
    if (m_created && !m_finished) {
        // Stop here for good: drop the partly written frame and finish the file around the
        // frames it holds, so that it is readable now, whatever happens to the process later.
        m_output.Truncate(m_appendPos);
        m_output.Seek(int64_t(m_appendPos), SeekOrigin::Begin);
        Finish();
    }
    return false;
}

} // namespace quillon
