// Repairs an AVI recording cut short. Our AVI writer puts the whole header down before the first
// frame and each frame as a video chunk followed by its timing chunk, so whatever survives is a
// header of the writer's exact layout and a run of frames. The repair checks the header against
// the one the writer would make, collects the whole frames, and writes them anew through the
// writer itself into a replacement file: sizes, counts, idx1 and, past 1 GiB, the OpenDML
// segments and indexes come out exactly as in a recording that finished.

#include <algorithm>
#include <cstring>
#include <utility>

#include "Inspection.h"
#include "recording/AviFormat.h"
#include "recording/AviWriter.h"
#include "recording/LocalFileOutput.h"

namespace quillon::inspect {

using namespace avi;

namespace {

// Offsets inside the first bytes of the file that the writer always puts in the same place.
constexpr uint64_t kAvihDataOffset = 32;
constexpr uint64_t kMicroSecPerFrameOffset = kAvihDataOffset;
constexpr uint64_t kWidthOffset = kAvihDataOffset + 32;
constexpr uint64_t kHeightOffset = kAvihDataOffset + 36;
constexpr uint64_t kGeometryBytes = kHeightOffset + 4;
constexpr uint64_t kMicrosecondsPerSecond = 1000000;

// The header bytes that change while recording or at its end, which a cut file may hold in any
// state: the RIFF size, the counts, and the reserved OpenDML space.
std::vector<std::pair<uint64_t, uint64_t>> ChangingRanges(const HeaderFields& f) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges = {
        {4, 4},
        {f.avihFlags, 4},
        {f.avihTotalFrames, 4},
        {f.odml, kChunkHeaderBytes + kOdmlListBytes}};
    for (int stream = 0; stream < kStreamCount; ++stream) {
        ranges.push_back({f.streamLength[stream], 4});
        ranges.push_back({f.superIndex[stream], kChunkHeaderBytes + kSuperIndexBytes});
    }
    return ranges;
}

// True if the bytes the file holds of its header are those the writer makes for this geometry.
bool HeaderMatches(const InputFile& file, const StreamGeometry& geometry, uint64_t& headerBytes) {
    HeaderFields fields;
    std::vector<uint8_t> expected = BuildHeader(geometry, fields);
    headerBytes = expected.size();
    std::vector<uint8_t> actual(std::min<uint64_t>(expected.size(), file.Size()));
    if (!file.Read(0, actual.data(), actual.size()))
        return false;
    for (const auto& [offset, size] : ChangingRanges(fields))
        for (uint64_t i = offset; i < std::min<uint64_t>(offset + size, actual.size()); ++i)
            actual[i] = expected[i];
    return std::equal(actual.begin(), actual.end(), expected.begin());
}

// The writer stores 1000000 / rate microseconds per frame; every rate that gives the file's
// value is tried against the rest of the header, which holds the rate exactly.
bool FindGeometry(const InputFile& file, StreamGeometry& geometry, uint64_t& headerBytes) {
    uint8_t start[kGeometryBytes];
    if (!file.Read(0, start, sizeof start) || !IsFourCC(start, kRiff) ||
        !IsFourCC(start + 8, kFormAvi))
        return false;
    const uint32_t perFrame = GetLe32(start + kMicroSecPerFrameOffset);
    const uint32_t width = GetLe32(start + kWidthOffset);
    const uint32_t height = GetLe32(start + kHeightOffset);
    const uint64_t sample = ((uint64_t(width) * 3 + 3) & ~uint64_t(3)) * height;
    if (perFrame == 0 || width == 0 || height == 0 || sample > kMaxRiffBytes / 2)
        return false;
    const uint64_t lowest = kMicrosecondsPerSecond / (uint64_t(perFrame) + 1) + 1;
    const uint64_t highest = kMicrosecondsPerSecond / perFrame;
    for (uint64_t rate = lowest; rate <= highest; ++rate) {
        geometry = MakeGeometry(uint32_t(rate), width, height);
        if (HeaderMatches(file, geometry, headerBytes))
            return true;
    }
    return false;
}

// The writer takes rows top-down and packed; the file holds them bottom-up and padded.
void ToTopDown(const StreamGeometry& g, const uint8_t* sample, uint8_t* frame) {
    const size_t packed = size_t(g.width) * 3;
    for (uint32_t y = 0; y < g.height; ++y)
        std::memcpy(frame + y * packed, sample + size_t(g.height - 1 - y) * g.rowBytes, packed);
}

} // namespace

bool RepairAvi(const InputFile& file, std::ostream& out, std::string& error) {
    StreamGeometry geometry;
    uint64_t headerBytes = 0;
    if (!FindGeometry(file, geometry, headerBytes)) {
        error = "not an AVI recording of Quillon ID";
        return false;
    }
    std::vector<AviFrame> frames;
    if (file.Size() >= headerBytes)
        frames = ReadAviFrames(file);
    for (const AviFrame& frame : frames)
        if (frame.size != geometry.sampleBytes) {
            error = "a frame holds " + std::to_string(frame.size) + " bytes, not " +
                    std::to_string(geometry.sampleBytes) + ": not a recording of Quillon ID";
            return false;
        }

    ReplacementFile replacement(file.Path());
    if (!replacement.IsReady()) {
        error = replacement.Error();
        return false;
    }
    LocalFileOutput output(replacement.Path());
    AviWriter writer(output);
    std::vector<uint8_t> sample(geometry.sampleBytes);
    std::vector<uint8_t> picture(size_t(geometry.width) * 3 * geometry.height);
    bool ok = writer.Create(geometry.rate, geometry.width, geometry.height);
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        ok = file.Read(frames[i].data, sample.data(), sample.size());
        ToTopDown(geometry, sample.data(), picture.data());
        ok = ok && writer.WriteFrame(geometry.width, geometry.height, picture.data(), kBitCount,
                                     frames[i].time);
    }
    writer.Finish();
    ok = ok && !writer.HasFailed() && output.Close();
    if (!ok) {
        error = "cannot write the repaired file: " +
                (writer.HasFailed() ? writer.LastError() : output.LastError());
        return false;
    }
    if (!replacement.Commit()) {
        error = replacement.Error();
        return false;
    }
    out << "repaired: AVI, " << frames.size() << " whole frames kept, " << geometry.width << "x"
        << geometry.height << " at " << geometry.rate << " frames per second\n";
    return true;
}

} // namespace quillon::inspect
