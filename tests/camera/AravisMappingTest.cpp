// The arithmetic between the recorder's camera units and GenICam features, and the demosaic of
// the four Bayer tiles a camera may send.
#include "camera/AravisMapping.h"
#include "camera/BayerConversion.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

TEST(AravisMappingTest, RegionsRoundDownAndFrameIdsCountWhatWasSkipped) {
    struct Round {
        int64_t value, min, max, increment, expected;
    };
    for (const Round& c : std::vector<Round>{{801, 16, 2048, 16, 800},
                                             {3000, 0, 2044, 8, 2040}, // max off the grid
                                             {5, 16, 2048, 16, 16},
                                             {13, 1, 100, 0, 13}}) {
        EXPECT_EQ(RoundToIncrement(c.value, c.min, c.max, c.increment), c.expected) << c.value;
    }
    struct Skip {
        uint64_t previous, id, skipped;
    };
    for (const Skip& s : std::vector<Skip>{{0, 7, 0},
                                           {6, 10, 3},
                                           {65535, 1, 0}, // GigE Vision 1.x wraps past 0
                                           {65533, 2, 3},
                                           {20000, 3, 0}, // the camera started counting again
                                           {70000, 5, 0}}) {
        EXPECT_EQ(FramesSkipped(s.previous, s.id), s.skipped) << s.previous << " -> " << s.id;
    }
    EXPECT_EQ(OfferedFrameRates(1.0, 163.5),
              (std::vector<float>{3.75f, 7.5f, 15, 25, 29.97f, 50, 60, 100, 163.5f}));
    EXPECT_NEAR(GainDbToFactor(GainFactorToDb(3.875)), 3.875, 1e-9);
}

// A flat colour seen through each tile comes out as that colour everywhere, borders included.
TEST(AravisMappingTest, EveryBayerTileDemosaicsToItsColours) {
    constexpr uint32_t kWidth = 67; // odd, and wide enough for the vector kernel
    constexpr uint32_t kHeight = 9;
    constexpr uint8_t kRed = 200, kGreen = 100, kBlue = 30;
    struct Tile {
        BayerPattern pattern;
        uint8_t sites[2][2];
    };
    const Tile tiles[] = {{BayerPattern::kRggb, {{kRed, kGreen}, {kGreen, kBlue}}},
                          {BayerPattern::kGrbg, {{kGreen, kRed}, {kBlue, kGreen}}},
                          {BayerPattern::kGbrg, {{kGreen, kBlue}, {kRed, kGreen}}},
                          {BayerPattern::kBggr, {{kBlue, kGreen}, {kGreen, kRed}}}};
    for (const DemosaicKernel kernel : {DemosaicKernel::kScalar, DemosaicKernel::kAuto}) {
        for (const Tile& tile : tiles) {
            std::vector<uint8_t> raw(kWidth * kHeight);
            for (uint32_t y = 0; y < kHeight; ++y)
                for (uint32_t x = 0; x < kWidth; ++x)
                    raw[y * kWidth + x] = tile.sites[y & 1][x & 1];
            std::vector<uint8_t> bgr(raw.size() * 3);
            ASSERT_TRUE(DemosaicBayerToBgr24(raw.data(), kWidth, kHeight, tile.pattern, bgr.data(),
                                             kernel));
            size_t wrong = 0;
            for (size_t i = 0; i < raw.size(); ++i) {
                wrong += bgr[3 * i] != kBlue || bgr[3 * i + 1] != kGreen || bgr[3 * i + 2] != kRed;
            }
            EXPECT_EQ(wrong, 0u) << "tile " << int(tile.pattern) << " kernel " << int(kernel);
        }
    }
}

TEST(AravisMappingTest, ChannelScalingSaturates) {
    std::vector<uint8_t> bgr{10, 100, 200, 0, 255, 128};
    ScaleChannels(bgr.data(), 2, 2.0f, 1.0f, 1.5f);
    EXPECT_EQ(bgr, (std::vector<uint8_t>{20, 100, 255, 0, 255, 192}));
}

} // namespace
} // namespace quillon
