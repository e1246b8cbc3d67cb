// The demosaic of the four Bayer tiles a camera may send, the frame conversions, and the
// arithmetic between the recorder's camera units and GenICam features.
#include "camera/BayerConversion.h"
#include "camera/AravisMapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

// Straightforward bilinear RGGB demosaic with the documented border rule, written
// independently of the library's kernels: a border pixel takes the colour of its nearest
// interior pixel.
Bytes ReferenceDemosaic(const Bytes& raw, int w, int h) {
    auto at = [&](int x, int y) { return int{raw[y * w + x]}; };
    Bytes out;
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; ++column) {
            const int x = std::clamp(column, 1, w - 2), y = std::clamp(row, 1, h - 2);
            const int here = at(x, y);
            const int cross = (at(x - 1, y) + at(x + 1, y) + at(x, y - 1) + at(x, y + 1) + 2) / 4;
            const int diagonal =
                (at(x - 1, y - 1) + at(x + 1, y - 1) + at(x - 1, y + 1) + at(x + 1, y + 1) + 2) / 4;
            const int across = (at(x - 1, y) + at(x + 1, y) + 1) / 2;
            const int upDown = (at(x, y - 1) + at(x, y + 1) + 1) / 2;
            const bool evenRow = y % 2 == 0, evenColumn = x % 2 == 0;
            const std::array<int, 3> bgr = evenRow == evenColumn
                                               ? (evenRow ? std::array{diagonal, cross, here}
                                                          : std::array{here, cross, diagonal})
                                               : (evenRow ? std::array{upDown, here, across}
                                                          : std::array{across, here, upDown});
            out.insert(out.end(), bgr.begin(), bgr.end());
        }
    return out;
}

Bytes RandomFrame(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes raw(size_t(w) * h);
    std::generate(raw.begin(), raw.end(), [&] { return uint8_t(rng()); });
    return raw;
}

class DemosaicKernelTest : public ::testing::TestWithParam<DemosaicKernel> {
protected:
    void SetUp() override {
        if (!DemosaicKernelSupported(GetParam()))
            GTEST_SKIP() << "kernel not supported by this processor";
    }
};

// Widths around the vector width exercise the scalar fallback, the overlapping last step and
// both colour-site parities of that step; random values probe the rounding of the means, flat
// black and white their extremes.
TEST_P(DemosaicKernelTest, MatchesReferenceAndEveryTileKeepsAFlatColour) {
    const auto matches = [this](const Bytes& raw, int w, int h) {
        Bytes out(raw.size() * 3, 0xAB);
        ASSERT_TRUE(DemosaicRggbToBgr24(raw.data(), w, h, out.data(), GetParam()));
        EXPECT_EQ(out, ReferenceDemosaic(raw, w, h)) << w << " x " << h;
    };
    const std::pair<int, int> sizes[] = {
        {3, 3},  {4, 5},  {7, 4},  {33, 6}, {34, 5},   {35, 7},  {36, 3},    {63, 5},
        {64, 8}, {65, 9}, {66, 4}, {97, 6}, {130, 11}, {801, 7}, {800, 400}, {2048, 6}};
    uint32_t seed = 1;
    for (const auto& [w, h] : sizes)
        matches(RandomFrame(w, h, seed++), w, h);
    for (const uint8_t level : {0, 255})
        matches(Bytes(70 * 6, level), 70, 6);

    // A flat colour seen through each tile comes out as that colour everywhere, borders
    // included; 67 x 9 is odd and wide enough for the vector kernel. The patterns in their
    // order put red at (p & 1, p >> 1) of the tile, blue opposite.
    constexpr uint32_t kWidth = 67, kHeight = 9;
    constexpr uint8_t kRed = 200, kGreen = 100, kBlue = 30;
    for (const uint32_t p : {0, 1, 2, 3}) {
        Bytes raw(kWidth * kHeight), bgr(raw.size() * 3);
        for (size_t i = 0; i < raw.size(); ++i) {
            const bool redColumn = (i % kWidth & 1) == (p & 1),
                       redRow = (i / kWidth & 1) == (p >> 1);
            raw[i] = redColumn && redRow ? kRed : !redColumn && !redRow ? kBlue : kGreen;
        }
        ASSERT_TRUE(DemosaicBayerToBgr24(raw.data(), kWidth, kHeight, BayerPattern(p), bgr.data(),
                                         GetParam()));
        size_t wrong = 0;
        for (size_t i = 0; i < raw.size(); ++i)
            wrong += bgr[3 * i] != kBlue || bgr[3 * i + 1] != kGreen || bgr[3 * i + 2] != kRed;
        EXPECT_EQ(wrong, 0u) << "tile " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, DemosaicKernelTest,
                         ::testing::Values(DemosaicKernel::kAuto, DemosaicKernel::kScalar,
                                           DemosaicKernel::kAvx2));

// Frames without an interior are refused and left alone; the frame conversion picks the
// demosaic or grey (each byte three times; 37 pixels wide: no multiple of 32) by pixel format
// and refuses other formats and other conversion parameters. Channel scaling saturates.
TEST(RawFrameConversionTest, PicksConversionByPixelFormatAndRefusesOthers) {
    Bytes tiny(16, 10), untouched(48, 0);
    EXPECT_FALSE(DemosaicRggbToBgr24(tiny.data(), 2, 8, untouched.data()));
    EXPECT_FALSE(DemosaicRggbToBgr24(tiny.data(), 8, 2, untouched.data()));
    EXPECT_EQ(untouched, Bytes(48, 0));

    const Bytes raw = RandomFrame(37, 3, 7);
    Bytes out(raw.size() * 3), expected;
    for (uint8_t v : raw)
        expected.insert(expected.end(), 3, v);
    const auto convert = [&](uint32_t format, ConversionParams params) { // bilinear by default
        return ConvertRawFrameToBgr24(raw.data(), 37, 3, format, params, out.data());
    };
    ASSERT_TRUE(convert(kPixelFormatMono8, {}));
    EXPECT_EQ(out, expected);
    ASSERT_TRUE(convert(kPixelFormatBayerRggb8, {}));
    EXPECT_EQ(out, ReferenceDemosaic(raw, 37, 3));
    EXPECT_FALSE(convert(7, {}) || convert(kPixelFormatBayerRggb8, {2, kColourCorrectionNone}) ||
                 convert(kPixelFormatBayerRggb8, {kDemosaicBilinear, 1}));

    Bytes bgr{10, 100, 200, 0, 255, 128};
    ScaleChannels(bgr.data(), 2, 2.0f, 1.0f, 1.5f);
    EXPECT_EQ(bgr, (Bytes{20, 100, 255, 0, 255, 192})) << "scaling saturates";
}

// The arithmetic between the recorder's camera units and GenICam features.
TEST(AravisMappingTest, RegionsRoundDownFrameIdsCountWhatWasSkippedAndGainsGoToDecibels) {
    // max off the grid; steps counted from min; a zero increment counts as one; max below min.
    const std::tuple<int64_t, int64_t, int64_t, int64_t, int64_t> rounded[] = {
        {801, 16, 2048, 16, 800}, {3000, 0, 2044, 8, 2040}, {5, 16, 2048, 16, 16},
        {17, 1, 100, 4, 17},      {13, 1, 100, 0, 13},      {5, 10, 8, 1, 10}};
    for (const auto& [value, min, max, increment, expected] : rounded)
        EXPECT_EQ(RoundToIncrement(value, min, max, increment), expected) << value;
    // GigE Vision 1.x wraps past 0; a large jump back is a camera that started counting again.
    const std::tuple<uint64_t, uint64_t, uint64_t> skips[] = {
        {0, 7, 0}, {6, 10, 3}, {65535, 1, 0}, {65533, 2, 3}, {20000, 3, 0}, {70000, 5, 0}};
    for (const auto& [previous, id, skipped] : skips)
        EXPECT_EQ(FramesSkipped(previous, id), skipped) << previous << " -> " << id;
    EXPECT_EQ(OfferedFrameRates(1.0, 163.5),
              (std::vector<float>{3.75f, 7.5f, 15, 25, 29.97f, 50, 60, 100, 163.5f}));
    EXPECT_NEAR(GainFactorToDb(10.0), 20.0, 1e-9);
    EXPECT_NEAR(GainDbToFactor(GainFactorToDb(3.875)), 3.875, 1e-9);
}

} // namespace
} // namespace quillon
