#include "camera/BayerConversion.h"

#include "camera/BayerKernels.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

namespace quillon {

namespace {

constexpr size_t kBytesPerPixel = 3;

bayer::DemosaicRowFn DemosaicRowFor(DemosaicKernel kernel) {
    static const bool avx2 = bayer::Avx2Supported();
    switch (kernel) {
    case DemosaicKernel::kAuto:
        return avx2 ? bayer::DemosaicRowAvx2 : bayer::DemosaicRowScalar;
    case DemosaicKernel::kScalar:
        return bayer::DemosaicRowScalar;
    case DemosaicKernel::kAvx2:
        return avx2 ? bayer::DemosaicRowAvx2 : nullptr;
    }
    return nullptr;
}

// The first and last pixel of an interior row copy their inner neighbours.
void FillRowEnds(uint8_t* row, size_t width) {
    std::memcpy(row, row + kBytesPerPixel, kBytesPerPixel);
    std::memcpy(row + (width - 1) * kBytesPerPixel, row + (width - 2) * kBytesPerPixel,
                kBytesPerPixel);
}

} // namespace

bool DemosaicKernelSupported(DemosaicKernel kernel) {
    return DemosaicRowFor(kernel) != nullptr;
}

bool DemosaicRggbToBgr24(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* dest,
                         DemosaicKernel kernel) {
    return DemosaicBayerToBgr24(source, width, height, BayerPattern::kRggb, dest, kernel);
}

bool DemosaicBayerToBgr24(const uint8_t* source, uint32_t width, uint32_t height,
                          BayerPattern pattern, uint8_t* dest, DemosaicKernel kernel) {
    // The row kernels know the RGGB tile. A tile whose first row holds blue is RGGB one row
    // down; one whose red or blue sits in the odd columns is RGGB one column to the right.
    const bool blueFirstRow = pattern == BayerPattern::kGbrg || pattern == BayerPattern::kBggr;
    const uint32_t shift =
        (pattern == BayerPattern::kGrbg || pattern == BayerPattern::kBggr) ? 1 : 0;
    const bayer::DemosaicRowFn demosaicRow = DemosaicRowFor(kernel);
    if (demosaicRow == nullptr || width < kMinDemosaicSide + shift || height < kMinDemosaicSide) {
        return false;
    }
    const size_t sourceStride = width;
    const size_t destStride = width * kBytesPerPixel;
    for (size_t y = 1; y + 1 < height; ++y) {
        const uint8_t* cur = source + y * sourceStride;
        uint8_t* out = dest + y * destStride;
        const bool redRow = ((y & 1) == 0) != blueFirstRow;
        demosaicRow(cur - sourceStride + shift, cur + shift, cur + sourceStride + shift,
                    out + shift * kBytesPerPixel, width - shift, redRow);
        if (shift != 0) {
            // Pixel 1 lies left of what the shifted kernel covers. Read with the other row
            // kind, the plain kernel's column parity fits it, with red and blue exchanged.
            bayer::DemosaicPixelsScalar(cur - sourceStride, cur, cur + sourceStride, out, 1, 2,
                                        !redRow);
            std::swap(out[kBytesPerPixel], out[kBytesPerPixel + 2]);
        }
        FillRowEnds(out, width);
        // The outer rows are copied while their neighbour is still in the cache.
        if (y == 1) {
            std::memcpy(dest, out, destStride);
        }
        if (y + 2 == height) {
            std::memcpy(out + destStride, out, destStride);
        }
    }
    return true;
}

void ScaleChannels(uint8_t* bgr, size_t pixels, float blue, float green, float red) {
    std::array<std::array<uint8_t, 256>, 3> tables{};
    const float factors[3] = {blue, green, red};
    for (size_t c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            const float scaled = static_cast<float>(v) * factors[c] + 0.5f;
            tables[c][v] = static_cast<uint8_t>(std::clamp(scaled, 0.0f, 255.0f));
        }
    }
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t* pixel = bgr + i * kBytesPerPixel;
        pixel[0] = tables[0][pixel[0]];
        pixel[1] = tables[1][pixel[1]];
        pixel[2] = tables[2][pixel[2]];
    }
}

void GreyToBgr24(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* dest) {
    static const bayer::GreyRowFn greyRow =
        bayer::Avx2Supported() ? bayer::GreyRowAvx2 : bayer::GreyRowScalar;
    greyRow(source, dest, width * height);
}

bool ConvertRawFrameToBgr24(const uint8_t* source, uint32_t width, uint32_t height,
                            uint32_t pixelFormat, const ConversionParams& params, uint8_t* dest) {
    if (source == nullptr || dest == nullptr || params.demosaicMethod != kDemosaicBilinear ||
        params.correctionMatrix != kColourCorrectionNone) {
        return false;
    }
    switch (pixelFormat) {
    case kPixelFormatBayerRggb8:
        return DemosaicRggbToBgr24(source, width, height, dest);
    case kPixelFormatMono8:
        GreyToBgr24(source, width, height, dest);
        return true;
    default:
        return false;
    }
}

} // namespace quillon
