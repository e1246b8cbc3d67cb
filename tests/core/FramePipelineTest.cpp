#include "core/FramePipeline.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/FrameImage.h"
#include "core/FrameRing.h"
#include "core/GreyPreview.h"
#include "settings/CameraSettings.h"

namespace quillon {
namespace {

class FramePipelineTest : public ::testing::Test {
protected:
    FramePipelineTest() { stores.Allocate(); }
    bool Process() { return pipeline.OnFrameReady(raw.data(), raw.size()); }
    void Process(int frames, uint8_t value) {
        raw.assign(raw.size(), value);
        for (int i = 0; i < frames; ++i)
            Process();
    }

    FrameStores stores;
    CameraSettings camera{.Width = 600, .Height = 360};
    GreyPreview preview;
    std::atomic<uint32_t> adjustment{0};
    FramePipeline pipeline{stores, camera, preview, preview, adjustment};
    std::vector<uint8_t> raw = std::vector<uint8_t>(600 * 360, 100);
};

// Brightness applies before contrast, and both clip at 0 and 255.
TEST(FramePixelOps, AdjustTableBrightensThenFollowsTheContrastCurve) {
    std::array<uint8_t, 256> t{};
    image::BuildAdjustTable(0, 100, t);
    for (size_t i = 0; i < t.size(); ++i)
        ASSERT_EQ(t[i], uint8_t(i));
    // Brightness, contrast, in, out.
    const std::array<int32_t, 4> cases[] = {
        {10, 100, 246, 255}, {10, 100, 100, 110}, {-10, 100, 9, 0},   {-10, 100, 11, 1},
        {0, 200, 0, 0},      {0, 200, 64, 0},     {0, 200, 128, 128}, {0, 200, 255, 255},
        {10, 200, 118, 128}, {0, 0, 0, 127},      {0, 0, 255, 127}};
    for (const auto& [brightness, contrast, in, out] : cases) {
        image::BuildAdjustTable(brightness, contrast, t);
        EXPECT_EQ(t[size_t(in)], out) << brightness << " " << contrast << " " << in;
    }
}

// Reduction keeps the odd pixels. Scaled down for the screen, the preview reads one Bayer cell
// per pixel (red at its top left, the two greens averaged) through the adjustment table, without
// converting the whole frame.
TEST(FramePixelOps, ReductionTakesOddPixelsAndTheScaledPreviewOneBayerCellPerPixel) {
    std::vector<uint8_t> bgr(6 * 4 * 3), reduced(3 * 2 * 3);
    std::iota(bgr.begin(), bgr.end(), 0);
    image::Reduce(bgr.data(), 6, 4, 2, reduced.data());
    // Pixels (1,1), (3,1), (5,1), (1,3), (3,3) and (5,3) of a 6 x 4 image.
    EXPECT_EQ(reduced, (std::vector<uint8_t>{21, 22, 23, 27, 28, 29, 33, 34, 35, 57, 58, 59, 63, 64,
                                             65, 69, 70, 71}));
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

TEST_F(FramePipelineTest, FramesOfAnotherSizeOrWhileBusyAreDroppedOthersReachThePreview) {
    EXPECT_TRUE(pipeline.OnFrameReady(raw.data(), raw.size() - 1));
    EXPECT_TRUE(pipeline.OnFrameReady(nullptr, raw.size()));
    preview.busy = true;
    EXPECT_TRUE(Process());
    preview.busy = false, preview.fail = true;
    EXPECT_TRUE(Process());
    EXPECT_EQ(std::tuple(pipeline.DroppedFrames(), preview.frames, camera.FrameTimeMs),
              std::tuple(4u, 0, -1));
    preview.fail = false;
    EXPECT_FALSE(Process());
    EXPECT_EQ(preview.frames, 1);
    EXPECT_GE(camera.FrameTimeMs, 0);
    // Reduced and brightened.
    camera.Reduction = 2;
    camera.Brightnes = 10;
    ASSERT_FALSE(Process());
    EXPECT_EQ(std::pair(preview.width, preview.height), std::pair(300u, 180u));
    EXPECT_EQ(preview.shown, std::vector<uint8_t>(300 * 180 * 3, 110));
    // The settings in effect go to the camera thread for the frames it records.
    EXPECT_EQ(FrameAdjustment::Unpack(adjustment), (FrameAdjustment{10, 100, 2}));
    // A new value acts on the next frame.
    camera.Contrast = 0;
    ASSERT_FALSE(Process());
    EXPECT_EQ(preview.shown.front(), 127);
    EXPECT_EQ(FrameAdjustment::Unpack(adjustment), (FrameAdjustment{10, 0, 2}));
}

TEST_F(FramePipelineTest, AutoBrightnessStepsTowardTheTarget) {
    pipeline.SetAutoBrightness(true);
    Process(6, 115); // six frames pass before the first correction
    EXPECT_EQ(camera.Brightnes, 0);
    Process();
    EXPECT_EQ(std::pair(camera.Brightnes, preview.brightness),
              std::pair(-5, std::vector<int32_t>{-5}));
    // Within 10 % of the target: the offset stays but the edit is still told.
    camera.Brightnes = 0;
    Process(6, 108);
    EXPECT_EQ(std::pair(camera.Brightnes, preview.brightness.back()), std::pair(0, 0));
    // Target -1: the next measured mean becomes the target.
    camera.MeanValue = -1;
    Process(6, 80);
    EXPECT_EQ(std::pair(camera.MeanValue, camera.Brightnes), std::pair(80, 0));
}

} // namespace
} // namespace quillon
