#include "camera/BayerKernels.h"

namespace quillon::bayer {

namespace {

inline uint8_t Mean2(uint32_t a, uint32_t b) {
    return static_cast<uint8_t>((a + b + 1) >> 1);
}

inline uint8_t Mean4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return static_cast<uint8_t>((a + b + c + d + 2) >> 2);
}

} // namespace

void DemosaicPixelsScalar(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* dest,
                          uint32_t xBegin, uint32_t xEnd, bool redRow) {
    // On a red row the colour sites (red) are the even columns, on a blue row the odd ones;
    // every other pixel is green. "own" is the colour of this row's colour sites, "other" the
    // colour of the neighbouring rows' colour sites.
    const uint32_t colourParity = redRow ? 0 : 1;
    for (uint32_t x = xBegin; x < xEnd; ++x) {
        uint8_t own;
        uint8_t green;
        uint8_t other;
        if ((x & 1) == colourParity) {
            own = cur[x];
            green = Mean4(cur[x - 1], cur[x + 1], up[x], down[x]);
            other = Mean4(up[x - 1], up[x + 1], down[x - 1], down[x + 1]);
        } else {
            own = Mean2(cur[x - 1], cur[x + 1]);
            green = cur[x];
            other = Mean2(up[x], down[x]);
        }
        uint8_t* pixel = dest + 3 * x;
        pixel[0] = redRow ? other : own; // blue
        pixel[1] = green;
        pixel[2] = redRow ? own : other; // red
    }
}

void DemosaicRowScalar(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* dest,
                       uint32_t width, bool redRow) {
    DemosaicPixelsScalar(up, cur, down, dest, 1, width - 1, redRow);
}

void GreyRowScalar(const uint8_t* source, uint8_t* dest, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        dest[3 * i] = source[i];
        dest[3 * i + 1] = source[i];
        dest[3 * i + 2] = source[i];
    }
}

} // namespace quillon::bayer
