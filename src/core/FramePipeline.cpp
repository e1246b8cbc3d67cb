#include "FramePipeline.h"

#include <algorithm>
#include <cmath>

#include "FrameImage.h"
#include "FrameRing.h"
#include "settings/CameraSettings.h"

namespace quillon {

uint32_t ReductionOf(const CameraSettings& camera) {
    return std::clamp<uint32_t>(camera.Reduction, 1, 2);
}

ImageGeometry ReducedGeometry(const CameraSettings& camera) {
    const uint32_t r = ReductionOf(camera);
    return {camera.Width / r, camera.Height / r};
}

ImageGeometry PreviewGeometry(const CameraSettings& camera, uint32_t previewScale) {
    const uint32_t f = ReductionOf(camera) * std::max<uint32_t>(previewScale, 1);
    return {camera.Width / f, camera.Height / f};
}

uint32_t PreviewScaleToFit(const ImageGeometry& image, uint32_t roomWidth, uint32_t roomHeight) {
    constexpr uint32_t kMaxScale = 8;
    uint32_t scale = 1;
    while (scale < kMaxScale &&
           (image.width / scale > roomWidth || image.height / scale > roomHeight)) {
        ++scale;
    }
    return scale;
}

FramePipeline::FramePipeline(FrameStores& stores, CameraSettings& camera, FrameConverter& converter,
                             FrameOutput& output, std::atomic<uint32_t>& adjustment)
    : m_stores(stores), m_camera(camera), m_converter(converter), m_output(output),
      m_adjustment(adjustment) {
    image::BuildAdjustTable(0, 100, m_adjustTable);
}

bool FramePipeline::Drop() {
    ++m_dropped;
    return true;
}

void FramePipeline::PublishAdjustment() {
    FrameAdjustment a;
    a.brightness = int16_t(std::clamp(m_camera.Brightnes, -255, 255));
    a.contrast = uint16_t(std::clamp(m_camera.Contrast, 0, 1000));
    a.reduction = uint8_t(ReductionOf(m_camera));
    m_adjustment.store(a.Pack(), std::memory_order_release);
}

const std::array<uint8_t, 256>& FramePipeline::AdjustTable() {
    const int32_t b = m_camera.Brightnes;
    const int32_t p = m_camera.Contrast;
    if (b != m_tableBrightness || p != m_tableContrast) {
        image::BuildAdjustTable(b, p, m_adjustTable);
        m_tableBrightness = b;
        m_tableContrast = p;
    }
    return m_adjustTable;
}

bool FramePipeline::OnFrameReady(const uint8_t* data, size_t length) {
    StampNow(S0);
    PublishAdjustment();
    const uint32_t width = m_camera.Width;
    const uint32_t height = m_camera.Height;
    const uint32_t r = ReductionOf(m_camera);
    const uint32_t factor = r * m_previewScale;
    const size_t rawSize = size_t(width) * height;
    const ImageGeometry preview = PreviewGeometry(m_camera, m_previewScale);
    // Only frames of one byte per pixel, of the current size, that fit the stores pass.
    if (data == nullptr || length != rawSize || rawSize > FrameStores::kMaxRawFrame)
        return Drop();

    StampNow(C0);
    if (m_converter.IsBusy())
        return Drop();
    const RawLayout layout = m_converter.Layout(m_camera.PixelFormat);
    uint8_t* picture = m_stores.ReducedBuffer();
    const bool scaledFromRaw = factor > 1 && layout != RawLayout::kConvert;
    uint8_t* rgb = m_stores.RgbBuffer();
    if (!scaledFromRaw &&
        !m_converter.ConvertToRgb24(data, rgb, width, height, m_camera.PixelFormat)) {
        return Drop();
    }
    StampNow(C1);

    // Scaling down before anything else keeps the work to the pixels the preview shows.
    StampNow(R0);
    if (scaledFromRaw) {
        ScaledPreview(data, width, height, layout, factor, AdjustTable(), picture);
    } else if (factor > 1) {
        image::Reduce(rgb, width, height, factor, picture);
    } else {
        picture = rgb;
    }
    StampNow(R1);

    StampNow(A0);
    if (!scaledFromRaw && (m_camera.Brightnes != 0 || m_camera.Contrast != 100)) {
        image::ApplyTable(AdjustTable(), picture, preview.Bytes());
    }
    StampNow(A1);

    StampNow(M0);
    if (m_autoBrightness)
        AutoBrightness(picture, preview.Bytes());
    StampNow(M1);

    StampNow(D0);
    m_output.ShowFrame(picture, preview.width, preview.height);
    StampNow(D1);

    // Frames reach the recording from the camera thread; the stamps stay for the log's columns.
    StampNow(W0);
    StampNow(W1);
    StampNow(S1);
    m_camera.FrameTimeMs = int32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(m_stamps[S1] - m_stamps[S0]).count());
    return false;
}

void FramePipeline::ScaledPreview(const uint8_t* raw, uint32_t width, uint32_t height,
                                  RawLayout layout, uint32_t factor,
                                  const std::array<uint8_t, 256>& table, uint8_t* out) {
    const uint32_t outWidth = width / factor;
    const uint32_t outHeight = height / factor;
    const uint8_t* t = table.data();
    // The step between the Bayer cells read, in bytes; an odd factor reads the cell it falls in.
    const size_t step = factor;
    for (uint32_t y = 0; y < outHeight; ++y) {
        const size_t top = size_t((y * factor) & ~1u); // the Bayer cell's first row
        const uint8_t* __restrict row0 = raw + top * width;
        const uint8_t* __restrict row1 = row0 + width;
        uint8_t* __restrict pixel = out + size_t(y) * outWidth * 3;
        if (layout == RawLayout::kGrey) {
            for (uint32_t x = 0; x < outWidth; ++x, pixel += 3) {
                pixel[0] = pixel[1] = pixel[2] = t[row0[x * step]];
            }
            continue;
        }
        if (factor % 2 == 0) {
            // Every cell starts on an even column: no rounding down per pixel.
            for (uint32_t x = 0; x < outWidth; ++x, pixel += 3, row0 += step, row1 += step) {
                const uint8_t b = t[row1[1]];
                const uint8_t g = t[(row0[1] + row1[0] + 1) >> 1];
                const uint8_t r = t[row0[0]];
                pixel[0] = b, pixel[1] = g, pixel[2] = r;
            }
            continue;
        }
        for (uint32_t x = 0; x < outWidth; ++x, pixel += 3) {
            const size_t left = size_t((x * factor) & ~1u);
            pixel[0] = t[row1[left + 1]];
            pixel[1] = t[(row0[left + 1] + row1[left] + 1) >> 1];
            pixel[2] = t[row0[left]];
        }
    }
}

void FramePipeline::AutoBrightness(const uint8_t* image, size_t bytes) {
    if (m_autoCounter > kAutoInterval) {
        const int32_t mean = image::SampledMean(image, bytes);
        if (m_camera.MeanValue == -1) {
            m_camera.MeanValue = mean;
        } else {
            const auto tolerance =
                int32_t(double(m_camera.MeanValue) / 100.0 * kAutoTolerancePercent);
            const int32_t d = mean - m_camera.MeanValue;
            if (std::abs(d) > tolerance) {
                m_camera.Brightnes += d > 0 ? -kAutoStep : kAutoStep;
                m_camera.Brightnes = std::clamp(m_camera.Brightnes, -255, 255);
                PublishAdjustment();
            }
            m_output.ShowBrightness(m_camera.Brightnes);
        }
        m_autoCounter = 0;
    }
    ++m_autoCounter;
}

} // namespace quillon
