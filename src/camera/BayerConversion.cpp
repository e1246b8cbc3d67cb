#include "camera/BayerConversion.h"

#include "camera/BayerKernels.h"

#include <cstddef>
#include <cstring>

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
    const bayer::DemosaicRowFn demosaicRow = DemosaicRowFor(kernel);
    if (demosaicRow == nullptr || width < kMinDemosaicSide || height < kMinDemosaicSide) {
        return false;
    }
    const size_t sourceStride = width;
    const size_t destStride = width * kBytesPerPixel;
    for (size_t y = 1; y + 1 < height; ++y) {
        const uint8_t* cur = source + y * sourceStride;
        uint8_t* out = dest + y * destStride;
        demosaicRow(cur - sourceStride, cur, cur + sourceStride, out, width, (y & 1) == 0);
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
