// The own container: header tags, then records of width x height bytes and a time.

#include <vector>

#include "Inspection.h"
#include "PngWriter.h"
#include "recording/ByteFields.h"
#include "recording/VlvWriter.h"

namespace quillon::inspect {

namespace {

constexpr uint32_t kLengthBytes = 4;
constexpr uint32_t kTagHeadBytes = 4;
constexpr uint32_t kMaxValueBytes = 4;

struct VlvHeader {
    uint32_t length = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rate = 0;
    bool hasWidth = false, hasHeight = false, hasRate = false;
};

// Reads the tags as any reader must: length first, then tag heads until the header ends.
bool ReadHeader(const InputFile& file, std::ostream& out, Inspection& result, VlvHeader& header) {
    uint8_t field[kLengthBytes];
    if (!file.Read(0, field, sizeof field)) {
        result.Problem("too short for a header");
        return false;
    }
    header.length = GetBe(field, kLengthBytes);
    out << "header length: " << header.length << " bytes\n";
    if (header.length < kLengthBytes || header.length > file.Size()) {
        result.Problem("header length " + std::to_string(header.length) + " does not fit the file");
        return false;
    }
    std::vector<uint8_t> bytes(header.length);
    file.Read(0, bytes.data(), bytes.size());
    for (uint32_t pos = kLengthBytes; pos < header.length;) {
        if (pos + kTagHeadBytes > header.length) {
            result.Problem("header ends inside a tag at offset " + std::to_string(pos));
            return false;
        }
        const uint8_t tag = bytes[pos];
        const uint32_t valueBytes = GetBe(&bytes[pos + 1], 3);
        pos += kTagHeadBytes;
        if (valueBytes > header.length - pos) {
            result.Problem("tag " + std::to_string(tag) + " runs past the header");
            return false;
        }
        const uint32_t value = valueBytes <= kMaxValueBytes ? GetBe(&bytes[pos], valueBytes) : 0;
        pos += valueBytes;
        switch (tag) {
        case vlv::kTagWidth:
            header.width = value;
            header.hasWidth = true;
            break;
        case vlv::kTagHeight:
            header.height = value;
            header.hasHeight = true;
            break;
        case vlv::kTagRate:
            header.rate = value;
            header.hasRate = true;
            break;
        default:
            out << "unknown tag " << int(tag) << " (" << valueBytes << " bytes), skipped\n";
        }
    }
    out << "width: " << header.width << "\nheight: " << header.height << "\nrate: " << header.rate
        << " frames per second\n";
    if (!header.hasWidth || !header.hasHeight || header.width == 0 || header.height == 0) {
        result.Problem("header gives no frame size");
        return false;
    }
    if (!header.hasRate || header.rate == 0)
        result.Problem("header gives no frame rate");
    return true;
}

} // namespace

void InspectVlv(const InputFile& file, const Options& options, std::ostream& out,
                Inspection& result) {
    out << "kind: VLV (1), own container\n";
    VlvHeader header;
    if (!ReadHeader(file, out, result, header))
        return;
    const uint64_t pixels = uint64_t(header.width) * header.height;
    const uint64_t record = pixels + vlv::kTimeBytes;
    const uint64_t frames = (file.Size() - header.length) / record;
    const uint64_t rest = (file.Size() - header.length) % record;
    out << "frame record: " << record << " bytes\nframes: " << frames
        << " (the white opening frame included)\n";
    if (frames == 0)
        result.Problem("no opening frame");
    if (rest != 0)
        result.Problem("truncated: the last frame record has " + std::to_string(rest) + " of its " +
                       std::to_string(record) + " bytes");

    std::vector<uint8_t> picture(options.exportDir.empty() ? 0 : pixels);
    PngWriter png;
    for (uint64_t i = 0; i < frames; ++i) {
        const uint64_t offset = header.length + i * record;
        uint8_t sequence[4] = {}, time[4] = {};
        file.Read(offset, sequence, sizeof sequence);
        file.Read(offset + pixels, time, sizeof time);
        out << "frame " << i << ": time " << GetLe32(time) << " ms, ";
        if (i == 0)
            out << "opening frame\n";
        else
            out << "sequence " << GetLe32(sequence) << "\n";
        if (picture.empty())
            continue;
        std::string error;
        if (!file.Read(offset, picture.data(), picture.size()) ||
            !png.Write(ExportPath(options, uint32_t(i)), header.width, header.height,
                       PngWriter::Pixels::Grey, picture.data(), 0, &error)) {
            result.Problem("export failed: " + error);
            return;
        }
        ++result.exported;
    }
}

} // namespace quillon::inspect
