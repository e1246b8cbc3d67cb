#include "camera/AravisMapping.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quillon {

namespace {

constexpr std::array<float, 10> kUsualFrameRates{3.75f, 7.5f,  15.0f,  25.0f,  29.97f,
                                                 50.0f, 60.0f, 100.0f, 200.0f, 500.0f};
constexpr uint64_t kLastShortFrameId = 0xFFFF;
constexpr uint32_t kMinStreamBuffers = 8;
constexpr double kBufferedSeconds = 0.25;

} // namespace

int64_t RoundToIncrement(int64_t value, int64_t min, int64_t max, int64_t increment) {
    increment = std::max<int64_t>(increment, 1);
    if (max < min) {
        return min;
    }
    const int64_t clamped = std::clamp(value, min, max);
    return min + (clamped - min) / increment * increment;
}

double GainFactorToDb(double factor) {
    return factor > 0.0 ? 20.0 * std::log10(factor) : -HUGE_VAL;
}

double GainDbToFactor(double db) {
    return std::pow(10.0, db / 20.0);
}

std::vector<float> OfferedFrameRates(double min, double max) {
    std::vector<float> rates;
    for (const float rate : kUsualFrameRates) {
        if (rate >= min && rate <= max) {
            rates.push_back(rate);
        }
    }
    if (max > 0.0 && (rates.empty() || rates.back() != static_cast<float>(max))) {
        rates.push_back(static_cast<float>(max));
    }
    return rates;
}

uint64_t FramesSkipped(uint64_t previousId, uint64_t id) {
    if (previousId == 0 || id == 0) {
        return 0;
    }
    if (id > previousId) {
        return id - previousId - 1;
    }
    if (previousId <= kLastShortFrameId && id <= kLastShortFrameId) {
        // Wrapped (0 is left out), unless the jump back is so large that the camera rather
        // started again.
        const uint64_t skipped = (kLastShortFrameId - previousId) + (id - 1);
        return skipped < kLastShortFrameId / 2 ? skipped : 0;
    }
    return 0;
}

uint32_t StreamBufferCount(double frameRate) {
    const double quarter = std::ceil(std::max(frameRate, 0.0) * kBufferedSeconds);
    return std::max(kMinStreamBuffers, static_cast<uint32_t>(std::min(quarter, 4096.0)));
}

} // namespace quillon
