// Tells the file kinds apart and hands the file to the inspector of its kind.

#include <algorithm>
#include <cstring>

#include "Inspection.h"
#include "recording/AviFormat.h"

namespace quillon::inspect {

namespace {

constexpr uint8_t kAsfHeaderStart[4] = {0x30, 0x26, 0xB2, 0x75};
constexpr char kTrailerMarker[] = "VLWMV";

} // namespace

Kind Recognise(const InputFile& file) {
    uint8_t start[12] = {};
    file.Read(0, start, std::min<uint64_t>(sizeof start, file.Size()));
    if (IsFourCC(start, avi::kRiff) && IsFourCC(start + 8, avi::kFormAvi))
        return Kind::Avi;
    if (std::memcmp(start, kAsfHeaderStart, sizeof kAsfHeaderStart) == 0)
        return Kind::WindowsMedia;
    char tail[5] = {};
    if (file.Size() >= sizeof tail && file.Read(file.Size() - sizeof tail, tail, sizeof tail) &&
        std::memcmp(tail, kTrailerMarker, sizeof tail) == 0)
        return Kind::WindowsMedia;
    return Kind::Vlv;
}

void Inspect(const InputFile& file, const Options& options, std::ostream& out, Inspection& result) {
    switch (Recognise(file)) {
    case Kind::Avi:
        InspectAvi(file, options, out, result);
        break;
    case Kind::WindowsMedia:
        InspectWindowsMedia(file, options, out, result);
        break;
    case Kind::Vlv:
        InspectVlv(file, options, out, result);
        break;
    }
}

} // namespace quillon::inspect
