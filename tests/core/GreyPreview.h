#pragma once

#include <vector>

#include "core/FramePipeline.h"

namespace quillon {

// Grey frames: every raw byte becomes three equal bytes, so expected values are easy.
inline bool GreyConversion(const uint8_t* raw, uint8_t* bgr, uint32_t w, uint32_t h, uint32_t) {
    for (size_t i = 0; i < size_t(w) * h; ++i)
        bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = raw[i];
    return true;
}

// A camera that converts to grey (or is busy, or fails) and a preview that keeps what it shows.
struct GreyPreview : FrameConverter, FrameOutput {
    bool busy = false, fail = false;
    int frames = 0;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> shown;
    std::vector<int32_t> brightness;
    bool IsBusy() const override { return busy; }
    bool ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t w, uint32_t h,
                        uint32_t format) override {
        return !fail && GreyConversion(raw, bgr, w, h, format);
    }
    void ShowFrame(const uint8_t* bgr, uint32_t w, uint32_t h) override {
        ++frames, width = w, height = h;
        shown.assign(bgr, bgr + size_t(w) * h * 3);
    }
    void ShowBrightness(int32_t b) override { brightness.push_back(b); }
};

} // namespace quillon
