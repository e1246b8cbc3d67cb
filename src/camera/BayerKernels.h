#pragma once

#include <cstdint>

// Row kernels of the frame conversion (BayerConversion.h). Internal to the camera library.
namespace quillon::bayer {

// Fills pixels 1 .. width - 2 of one output row from the raw rows above, at and below it.
// `redRow` is true for rows of red and green pixels (even rows of an RGGB frame).
using DemosaicRowFn = void (*)(const uint8_t* up, const uint8_t* cur, const uint8_t* down,
                               uint8_t* dest, uint32_t width, bool redRow);
using GreyRowFn = void (*)(const uint8_t* source, uint8_t* dest, uint32_t count);

// Pixels [xBegin, xEnd) of the row, each 1 <= x <= width - 2.
void DemosaicPixelsScalar(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* dest,
                          uint32_t xBegin, uint32_t xEnd, bool redRow);
void DemosaicRowScalar(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* dest,
                       uint32_t width, bool redRow);
void GreyRowScalar(const uint8_t* source, uint8_t* dest, uint32_t count);

bool Avx2Supported();
// Only to be called when Avx2Supported().
void DemosaicRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* dest,
                     uint32_t width, bool redRow);
void GreyRowAvx2(const uint8_t* source, uint8_t* dest, uint32_t count);

} // namespace quillon::bayer
