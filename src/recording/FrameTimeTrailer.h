#pragma once

// The frame-time trailer appended to a finished Windows Media recording: every frame's time as
// 32-bit little-endian in the order the frames came, their count, and the marker "VLWMV".
// Readers find it from the end of the file; Windows Media readers ignore bytes after their data.

#include <cstdint>
#include <string>
#include <vector>

#include "recording/FileOutput.h"

namespace quillon {

namespace trailer {
constexpr char kMarker[] = {'V', 'L', 'W', 'M', 'V'};
constexpr size_t kMarkerBytes = sizeof kMarker;
constexpr size_t kCountBytes = 4;
constexpr size_t kTimeBytes = 4;
constexpr size_t kFixedBytes = kCountBytes + kMarkerBytes; // 9
} // namespace trailer

// Appends the trailer at the end of the output's file. If it cannot be written whole, the file is
// cut back to its old end, so a reader never meets half a trailer.
bool AppendFrameTimeTrailer(IFileOutput& output, const std::vector<uint32_t>& times,
                            std::string* error);

} // namespace quillon
