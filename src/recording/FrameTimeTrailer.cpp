#include "recording/FrameTimeTrailer.h"

#include "recording/ByteFields.h"

namespace quillon {

bool AppendFrameTimeTrailer(IFileOutput& output, const std::vector<uint32_t>& times,
                            std::string* error) {
    if (!output.IsOpen() || !output.Seek(0, SeekOrigin::End)) {
        *error = output.LastError();
        return false;
    }
    const uint64_t oldEnd = output.Tell();
    bool ok = true;
    uint8_t field[trailer::kTimeBytes];
    for (uint32_t time : times) {
        PutLe32(field, time);
        ok = ok && output.Write(field, sizeof field);
    }
    PutLe32(field, static_cast<uint32_t>(times.size()));
    ok = ok && output.Write(field, sizeof field);
    ok = ok && output.Write(trailer::kMarker, trailer::kMarkerBytes);
    ok = ok && output.Flush();
    if (!ok) {
        *error = output.LastError();
        output.Truncate(oldEnd);
    }
    return ok;
}

} // namespace quillon
