// quillon-inspect's reader of Windows Media, with or without its frame-time trailer.

#include "InspectFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return quillon::fuzz::InspectOne(&quillon::inspect::InspectWindowsMedia, data, size);
}
