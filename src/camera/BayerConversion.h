#pragma once

#include "camera/CameraApi.h"

#include <cstddef>
#include <cstdint>

namespace quillon {

// Frame conversion to 24-bit colour in blue, green, red byte order, shared by every camera
// backend. It runs once per frame on the user-interface thread, so the demosaic has vector
// kernels picked at run time from what the processor offers.
//
// Bilinear demosaic of 8-bit Bayer RGGB (red at (0, 0)): every pixel keeps its own colour;
// a missing colour is the rounded mean of the nearest two ((a + b + 1) >> 1) or four
// ((a + b + c + d + 2) >> 2) pixels of that colour, as the common bilinear conversion does.
// Border rule: pixels of the first and last column take the colour of their inner neighbour
// in the same row, then the first and last row are copies of their inner neighbour rows.

// Smallest frame side that has an interior to interpolate from.
inline constexpr uint32_t kMinDemosaicSide = 3;

enum class DemosaicKernel {
    kAuto,   // the fastest kernel this processor supports
    kScalar, // plain C++, any processor
    kAvx2,   // 32 pixels per step
};

bool DemosaicKernelSupported(DemosaicKernel kernel);

// `source` holds width x height bytes, `dest` receives width x height x 3 bytes; neither has
// row padding. Fails for frames narrower or lower than kMinDemosaicSide or an unsupported kernel.
bool DemosaicRggbToBgr24(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* dest,
                         DemosaicKernel kernel = DemosaicKernel::kAuto);

// Where the red pixel of the 2 x 2 Bayer tile sits, as the camera's 8-bit Bayer formats name it.
enum class BayerPattern { kRggb, kGrbg, kGbrg, kBggr };

// The same bilinear demosaic for any of the four tiles; a tile that starts with green or blue
// needs frames at least kMinDemosaicSide + 1 wide.
bool DemosaicBayerToBgr24(const uint8_t* source, uint32_t width, uint32_t height,
                          BayerPattern pattern, uint8_t* dest,
                          DemosaicKernel kernel = DemosaicKernel::kAuto);

// Multiplies the blue, green and red bytes of `pixels` pixels by their factors, saturating.
void ScaleChannels(uint8_t* bgr, size_t pixels, float blue, float green, float red);

// 8-bit grey to three equal bytes per pixel.
void GreyToBgr24(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* dest);

// The camera API's frame conversion for every backend: Bayer RGGB or mono by pixel format,
// bilinear demosaicing without colour correction only.
bool ConvertRawFrameToBgr24(const uint8_t* source, uint32_t width, uint32_t height,
                            uint32_t pixelFormat, const ConversionParams& params, uint8_t* dest);

} // namespace quillon
