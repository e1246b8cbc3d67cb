#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "FrameRing.h"

namespace quillon {

// The camera's conversion of a raw frame to 24-bit BGR, without any guard: safe to call from
// any thread, as it only reads the frame and writes `bgr`.
using RawConverter = std::function<bool(const uint8_t* raw, uint8_t* bgr, uint32_t width,
                                        uint32_t height, uint32_t pixelFormat)>;

// The pixel operations that turn a converted frame into the image the preview shows and the
// 24-bit recordings keep.
namespace image {

// Plain subsampling: the pixels with x and y of 1, 1 + r, 1 + 2r, ...
void Reduce(const uint8_t* bgr, uint32_t width, uint32_t height, uint32_t reduction, uint8_t* out);
// Brightness (an offset) then contrast (percent about the middle grey), as one byte table.
void BuildAdjustTable(int32_t brightness, int32_t contrastPercent, std::array<uint8_t, 256>& table);
void ApplyTable(const std::array<uint8_t, 256>& table, uint8_t* bytes, size_t count);
// The mean of 100 samples of three bytes, as the automatic brightness measures it.
int32_t SampledMean(const uint8_t* image, size_t bytes);

} // namespace image

// Makes the 24-bit image of a raw frame as it was shown: conversion, reduction, brightness
// and contrast. Its buffers are made once, for one recording's geometry.
class RecordingImageMaker {
public:
    RecordingImageMaker(uint32_t rawWidth, uint32_t rawHeight, uint32_t pixelFormat,
                        RawConverter convert);
    bool IsReady() const { return m_rgb != nullptr; }
    // The image, or nullptr when the conversion failed. Valid until the next call.
    const uint8_t* Make(const uint8_t* raw, const FrameAdjustment& adjustment);

private:
    const uint32_t m_width;
    const uint32_t m_height;
    const uint32_t m_pixelFormat;
    const RawConverter m_convert;
    std::unique_ptr<uint8_t[]> m_rgb;
    std::unique_ptr<uint8_t[]> m_reduced;
    std::array<uint8_t, 256> m_table{};
    int32_t m_tableBrightness = 0;
    int32_t m_tableContrast = 100;
};

} // namespace quillon
