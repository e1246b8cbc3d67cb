// quillon-inspect's reader of the own container (.vlv).

#include "InspectFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return quillon::fuzz::InspectOne(&quillon::inspect::InspectVlv, data, size);
}
