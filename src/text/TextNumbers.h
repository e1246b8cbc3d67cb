#pragma once

#include <cstdint>
#include <string_view>

namespace quillon {

// Number parsing with the C library's atoi/atof rules (leading white space, optional sign,
// digits up to the first other character, no digits gives 0), but without their undefined
// behaviour: integers that do not fit saturate at the int32 limits.
int32_t ParseInt(std::string_view text);

// A decimal number with optional fraction and exponent; text without digits gives 0.
double ParseDecimal(std::string_view text);

// A race time from the host: an int32 as atoi reads it, taken as unsigned 32-bit.
inline uint32_t ParseRaceTime(std::string_view text) {
    return uint32_t(ParseInt(text));
}

} // namespace quillon
