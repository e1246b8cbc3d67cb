#include "camera/BayerConversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace quillon {
namespace {

// Straightforward bilinear RGGB demosaic with the documented border rule, written
// independently of the library's kernels.
std::vector<uint8_t> ReferenceDemosaic(const std::vector<uint8_t>& raw, int w, int h) {
    auto at = [&](int x, int y) { return int{raw[y * w + x]}; };
    auto mean2 = [](int a, int b) { return (a + b + 1) >> 1; };
    auto mean4 = [](int a, int b, int c, int d) { return (a + b + c + d + 2) >> 2; };
    std::vector<uint8_t> out(size_t(w) * h * 3);
    auto put = [&](int x, int y, int b, int g, int r) {
        uint8_t* p = &out[(size_t(y) * w + x) * 3];
        p[0] = uint8_t(b);
        p[1] = uint8_t(g);
        p[2] = uint8_t(r);
    };
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            const int cross = mean4(at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1));
            const int diag =
                mean4(at(x - 1, y - 1), at(x + 1, y - 1), at(x - 1, y + 1), at(x + 1, y + 1));
            const int horizontal = mean2(at(x - 1, y), at(x + 1, y));
            const int vertical = mean2(at(x, y - 1), at(x, y + 1));
            const bool evenRow = y % 2 == 0, evenColumn = x % 2 == 0;
            if (evenRow && evenColumn) {
                put(x, y, diag, cross, at(x, y)); // red site
            } else if (!evenRow && !evenColumn) {
                put(x, y, at(x, y), cross, diag); // blue site
            } else if (evenRow) {
                put(x, y, vertical, at(x, y), horizontal); // green on a red row
            } else {
                put(x, y, horizontal, at(x, y), vertical); // green on a blue row
            }
        }
    }
    for (int y = 1; y < h - 1; ++y) {
        for (int c = 0; c < 3; ++c) {
            out[(size_t(y) * w) * 3 + c] = out[(size_t(y) * w + 1) * 3 + c];
            out[(size_t(y) * w + w - 1) * 3 + c] = out[(size_t(y) * w + w - 2) * 3 + c];
        }
    }
    for (size_t i = 0; i < size_t(w) * 3; ++i) {
        out[i] = out[size_t(w) * 3 + i];
        out[(size_t(h) - 1) * w * 3 + i] = out[(size_t(h) - 2) * w * 3 + i];
    }
    return out;
}

std::vector<uint8_t> RandomFrame(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> raw(size_t(w) * h);
    for (uint8_t& v : raw) {
        v = uint8_t(rng());
    }
    return raw;
}

struct Size {
    int width;
    int height;
};

class DemosaicKernelTest : public ::testing::TestWithParam<DemosaicKernel> {
protected:
    void SetUp() override {
        if (!DemosaicKernelSupported(GetParam())) {
            GTEST_SKIP() << "kernel not supported by this processor";
        }
    }
};

// Widths around the vector width exercise the scalar fallback, the overlapping last step and
// both colour-site parities of that step; saturated and alternating values probe the rounding
// of the four-pixel means at the extremes.
TEST_P(DemosaicKernelTest, MatchesReference) {
    const Size sizes[] = {{3, 3},    {4, 5},   {7, 4},     {33, 6},  {34, 5}, {35, 7},
                          {36, 3},   {63, 5},  {64, 8},    {65, 9},  {66, 4}, {97, 6},
                          {130, 11}, {801, 7}, {800, 400}, {2048, 6}};
    std::vector<std::pair<Size, std::vector<uint8_t>>> frames;
    uint32_t seed = 1;
    for (const Size& s : sizes)
        frames.push_back({s, RandomFrame(s.width, s.height, seed++)});
    const int w = 70, h = 6;
    std::vector<uint8_t> checker(size_t(w) * h), stripes(size_t(w) * h);
    for (int i = 0; i < w * h; ++i) {
        checker[i] = ((i % w + i / w) % 2) ? 255 : 0;
        stripes[i] = (i % 3 == 0) ? 1 : (i % 3 == 1 ? 254 : 127);
    }
    for (const auto& extreme : {std::vector<uint8_t>(size_t(w) * h, 255),
                                std::vector<uint8_t>(size_t(w) * h, 0), checker, stripes})
        frames.push_back({{w, h}, extreme});
    for (const auto& [size, raw] : frames) {
        std::vector<uint8_t> out(raw.size() * 3, 0xAB);
        ASSERT_TRUE(
            DemosaicRggbToBgr24(raw.data(), size.width, size.height, out.data(), GetParam()));
        EXPECT_EQ(out, ReferenceDemosaic(raw, size.width, size.height))
            << size.width << " x " << size.height;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, DemosaicKernelTest,
                         ::testing::Values(DemosaicKernel::kAuto, DemosaicKernel::kScalar,
                                           DemosaicKernel::kAvx2));

TEST(DemosaicTest, RefusesFramesWithoutInterior) {
    std::vector<uint8_t> raw(16, 10), out(48, 0);
    EXPECT_FALSE(DemosaicRggbToBgr24(raw.data(), 2, 8, out.data()));
    EXPECT_FALSE(DemosaicRggbToBgr24(raw.data(), 8, 2, out.data()));
    EXPECT_EQ(out, std::vector<uint8_t>(48, 0));
}

TEST(GreyConversionTest, RepeatsEachByteThreeTimes) {
    const std::vector<uint8_t> grey = RandomFrame(37, 3, 7); // not a multiple of 32 pixels
    std::vector<uint8_t> out(grey.size() * 3);
    GreyToBgr24(grey.data(), 37, 3, out.data());
    std::vector<uint8_t> expected;
    for (uint8_t v : grey)
        expected.insert(expected.end(), 3, v);
    EXPECT_EQ(out, expected);
}

TEST(RawFrameConversionTest, PicksConversionByPixelFormatAndRefusesOthers) {
    const std::vector<uint8_t> raw = RandomFrame(40, 6, 3);
    std::vector<uint8_t> out(raw.size() * 3), expected(raw.size() * 3);
    const ConversionParams bilinear;

    ASSERT_TRUE(
        ConvertRawFrameToBgr24(raw.data(), 40, 6, kPixelFormatBayerRggb8, bilinear, out.data()));
    EXPECT_EQ(out, ReferenceDemosaic(raw, 40, 6));

    ASSERT_TRUE(ConvertRawFrameToBgr24(raw.data(), 40, 6, kPixelFormatMono8, bilinear, out.data()));
    GreyToBgr24(raw.data(), 40, 6, expected.data());
    EXPECT_EQ(out, expected);

    EXPECT_FALSE(ConvertRawFrameToBgr24(raw.data(), 40, 6, 7, bilinear, out.data()));
    EXPECT_FALSE(ConvertRawFrameToBgr24(raw.data(), 40, 6, kPixelFormatBayerRggb8,
                                        ConversionParams{2, kColourCorrectionNone}, out.data()));
    EXPECT_FALSE(ConvertRawFrameToBgr24(raw.data(), 40, 6, kPixelFormatBayerRggb8,
                                        ConversionParams{kDemosaicBilinear, 1}, out.data()));
}

} // namespace
} // namespace quillon
