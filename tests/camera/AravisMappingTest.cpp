// The arithmetic between the recorder's camera units and GenICam features, and the demosaic of
// the four Bayer tiles a camera may send.
#include "camera/AravisMapping.h"
#include "camera/BayerConversion.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace quillon {
namespace {

TEST(AravisMappingTest, RegionsRoundDownFrameIdsCountWhatWasSkippedAndGainsGoToDecibels) {
    // max off the grid; a zero increment counts as one.
    const std::tuple<int64_t, int64_t, int64_t, int64_t, int64_t> rounded[] = {
        {801, 16, 2048, 16, 800},
        {3000, 0, 2044, 8, 2040},
        {5, 16, 2048, 16, 16},
        {13, 1, 100, 0, 13}};
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

// A flat colour seen through each tile comes out as that colour everywhere, borders included.
TEST(AravisMappingTest, EveryBayerTileDemosaicsToItsColours) {
    constexpr uint32_t kWidth = 67, kHeight = 9; // odd, and wide enough for the vector kernel
    constexpr uint8_t kRed = 200, kGreen = 100, kBlue = 30;
    for (const DemosaicKernel kernel : {DemosaicKernel::kScalar, DemosaicKernel::kAuto}) {
        // The patterns in their order put red at (p & 1, p >> 1) of the tile, blue opposite.
        for (const uint32_t p : {0, 1, 2, 3}) {
            std::vector<uint8_t> raw(kWidth * kHeight), bgr(raw.size() * 3);
            for (size_t i = 0; i < raw.size(); ++i) {
                const bool redColumn = (i % kWidth & 1) == (p & 1);
                const bool redRow = (i / kWidth & 1) == (p >> 1);
                raw[i] = redColumn && redRow ? kRed : !redColumn && !redRow ? kBlue : kGreen;
            }
            ASSERT_TRUE(DemosaicBayerToBgr24(raw.data(), kWidth, kHeight, BayerPattern(p),
                                             bgr.data(), kernel));
            size_t wrong = 0;
            for (size_t i = 0; i < raw.size(); ++i)
                wrong += bgr[3 * i] != kBlue || bgr[3 * i + 1] != kGreen || bgr[3 * i + 2] != kRed;
            EXPECT_EQ(wrong, 0u) << "tile " << p << " kernel " << int(kernel);
        }
    }
    std::vector<uint8_t> bgr{10, 100, 200, 0, 255, 128};
    ScaleChannels(bgr.data(), 2, 2.0f, 1.0f, 1.5f);
    EXPECT_EQ(bgr, (std::vector<uint8_t>{20, 100, 255, 0, 255, 192})) << "scaling saturates";
}

} // namespace
} // namespace quillon
