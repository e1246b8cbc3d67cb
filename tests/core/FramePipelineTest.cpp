#include "core/FramePipeline.h"
#include "core/FrameImage.h"
#include "core/FrameRing.h"

#include <gtest/gtest.h>

#include <vector>

#include "settings/CameraSettings.h"

namespace quillon {
namespace {

// Grey conversion: each raw byte becomes three equal bytes, so expected values are easy.
struct GreyConverter : FrameConverter {
    bool busy = false;
    bool fail = false;
    bool IsBusy() const override { return busy; }
    bool ConvertToRgb24(const uint8_t* raw, uint8_t* bgr, uint32_t w, uint32_t h,
                        uint32_t) override {
        if (fail)
            return false;
        for (size_t i = 0; i < size_t(w) * h; ++i)
            bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = raw[i];
        return true;
    }
};

struct CapturingOutput : FrameOutput {
    std::vector<uint8_t> shown;
    uint32_t width = 0, height = 0;
    int frames = 0;
    std::vector<int32_t> brightness;
    void ShowFrame(const uint8_t* bgr, uint32_t w, uint32_t h) override {
        ++frames;
        shown.assign(bgr, bgr + size_t(w) * h * 3);
        width = w;
        height = h;
    }
    void ShowBrightness(int32_t b) override { brightness.push_back(b); }
};

class FramePipelineTest : public ::testing::Test {
protected:
    FramePipelineTest() {
        stores.Allocate();
        camera.Width = 600;
        camera.Height = 360;
        camera.Reduction = 1;
        camera.Brightnes = 0;
        camera.Contrast = 100;
        raw.assign(600 * 360, 100);
    }
    bool Process() { return pipeline.OnFrameReady(raw.data(), raw.size()); }

    FrameStores stores;
    CameraSettings camera;
    GreyConverter converter;
    CapturingOutput output;
    std::atomic<uint32_t> adjustment{0};
    FramePipeline pipeline{stores, camera, converter, output, adjustment};
    std::vector<uint8_t> raw;
};

TEST(FramePixelOps, BrightnessClipsAtBothEnds) {
    std::array<uint8_t, 256> t{};
    image::BuildAdjustTable(10, 100, t);
    EXPECT_EQ(t[245], 255);
    EXPECT_EQ(t[246], 255);
    EXPECT_EQ(t[100], 110);
    image::BuildAdjustTable(-10, 100, t);
    EXPECT_EQ(t[9], 0);
    EXPECT_EQ(t[10], 0);
    EXPECT_EQ(t[11], 1);
}

TEST(FramePixelOps, ContrastTableFollowsTheCurve) {
    std::array<uint8_t, 256> t{};
    image::BuildAdjustTable(0, 100, t);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(t[size_t(i)], i);
    image::BuildAdjustTable(0, 0, t);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(t[size_t(i)], 127);
    image::BuildAdjustTable(0, 200, t);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[64], 0);
    EXPECT_EQ(t[128], 128);
    EXPECT_EQ(t[255], 255);
    // Brightness applies before contrast: 118 + 10 = 128 stays 128 at 200 %.
    image::BuildAdjustTable(10, 200, t);
    EXPECT_EQ(t[118], 128);
}

TEST(FramePixelOps, ReductionTakesOddPixels) {
    const uint32_t w = 600, h = 360;
    std::vector<uint8_t> bgr(size_t(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &bgr[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t(x ^ y);
        }
    std::vector<uint8_t> out(300 * 180 * 3, 0xEE);
    image::Reduce(bgr.data(), w, h, 2, out.data());
    for (uint32_t y = 0; y < 180; ++y)
        for (uint32_t x = 0; x < 300; ++x) {
            const uint8_t* p = &out[(size_t(y) * 300 + x) * 3];
            ASSERT_EQ(p[0], uint8_t(2 * x + 1));
            ASSERT_EQ(p[1], uint8_t(2 * y + 1));
            ASSERT_EQ(p[2], uint8_t((2 * x + 1) ^ (2 * y + 1)));
        }
}

TEST_F(FramePipelineTest, FramesOfAnotherSizeOrWhileBusyAreDropped) {
    EXPECT_TRUE(pipeline.OnFrameReady(raw.data(), raw.size() - 1));
    EXPECT_TRUE(pipeline.OnFrameReady(nullptr, raw.size()));
    converter.busy = true;
    EXPECT_TRUE(Process());
    converter.busy = false;
    converter.fail = true;
    EXPECT_TRUE(Process());
    EXPECT_EQ(pipeline.DroppedFrames(), 4u);
    EXPECT_EQ(output.frames, 0);
    EXPECT_EQ(camera.FrameTimeMs, -1);
    converter.fail = false;
    EXPECT_FALSE(Process());
    EXPECT_EQ(output.frames, 1);
    EXPECT_GE(camera.FrameTimeMs, 0);
}

TEST_F(FramePipelineTest, ReducedBrightenedImageReachesThePreview) {
    camera.Reduction = 2;
    camera.Brightnes = 10;
    ASSERT_FALSE(Process());
    EXPECT_EQ(output.width, 300u);
    EXPECT_EQ(output.height, 180u);
    ASSERT_EQ(output.shown.size(), 300u * 180 * 3);
    EXPECT_EQ(output.shown.front(), 110);
    EXPECT_EQ(output.shown.back(), 110);
    // The settings in effect go to the camera thread for the frames it records.
    EXPECT_EQ(FrameAdjustment::Unpack(adjustment), (FrameAdjustment{10, 100, 2}));
    // A new value acts on the next frame.
    camera.Contrast = 0;
    ASSERT_FALSE(Process());
    EXPECT_EQ(output.shown.front(), 127);
    EXPECT_EQ(FrameAdjustment::Unpack(adjustment), (FrameAdjustment{10, 0, 2}));
}

// Scaled down for the screen, the preview reads one Bayer cell per pixel (red at its top left,
// the two greens averaged) through the adjustment table, without converting the whole frame.
TEST(FramePixelOps, ScaledPreviewReadsOneBayerCellPerPixel) {
    const uint32_t w = 8, h = 4;
    std::vector<uint8_t> raw(w * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            raw[y * w + x] = uint8_t(10 * y + x + (x % 2) * 40 + (y % 2) * 80);
    std::array<uint8_t, 256> table{};
    image::BuildAdjustTable(1, 100, table);
    std::vector<uint8_t> out(2 * 1 * 3);
    FramePipeline::ScaledPreview(raw.data(), w, h, RawLayout::kBayerRggb, 4, table, out.data());
    // Cell at (0,0): R 0, G 41 and 90, B 131; cell at (4,0): R 4, G 45 and 94, B 135.
    EXPECT_EQ(out, (std::vector<uint8_t>{132, 67, 1, 136, 71, 5}));
    FramePipeline::ScaledPreview(raw.data(), w, h, RawLayout::kGrey, 4, table, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 1, 1, 5, 5, 5}));
}

TEST_F(FramePipelineTest, AutoBrightnessStepsTowardTheTarget) {
    pipeline.SetAutoBrightness(true);
    camera.MeanValue = 100;
    raw.assign(raw.size(), 115);
    // Six frames pass before the first correction (counter above 5).
    for (int i = 0; i < 6; ++i)
        Process();
    EXPECT_EQ(camera.Brightnes, 0);
    Process();
    EXPECT_EQ(camera.Brightnes, -5);
    EXPECT_EQ(output.brightness, std::vector<int32_t>{-5});
    // Within 10 % of the target: the offset stays but the edit is still told.
    camera.Brightnes = 0;
    raw.assign(raw.size(), 108);
    for (int i = 0; i < 6; ++i)
        Process();
    EXPECT_EQ(camera.Brightnes, 0);
    EXPECT_EQ(output.brightness.back(), 0);
    // Target -1: the next measured mean becomes the target.
    camera.MeanValue = -1;
    raw.assign(raw.size(), 80);
    for (int i = 0; i < 6; ++i)
        Process();
    EXPECT_EQ(camera.MeanValue, 80);
    EXPECT_EQ(camera.Brightnes, 0);
}

} // namespace
} // namespace quillon
