// quillon-inspect's reader of AVI, OpenDML included.

#include "InspectFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return quillon::fuzz::InspectOne(&quillon::inspect::InspectAvi, data, size);
}
