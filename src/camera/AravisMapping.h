#pragma once

#include <cstdint>
#include <vector>

namespace quillon {

// The arithmetic between the recorder's camera units and a GenICam camera's features, kept free
// of Aravis so that it can be checked without a camera.

// The nearest value at or below `value` that the camera accepts: min + k x increment, within
// [min, max]. An increment below 1 counts as 1.
int64_t RoundToIncrement(int64_t value, int64_t min, int64_t max, int64_t increment);

// Master gain: the recorder's plain factor against the camera's decibels.
double GainFactorToDb(double factor);
double GainDbToFactor(double db);

// The rates the camera offers: the usual rates that fall within [min, max], then the maximum
// itself when it is not one of them.
std::vector<float> OfferedFrameRates(double min, double max);

// Frames a camera skipped between two frame ids it delivered. Id 0 means "unknown". GigE Vision
// 1.x counts 16-bit ids that go from 65535 to 1; other ids only rise, and a lower id than before
// means the camera started counting again.
uint64_t FramesSkipped(uint64_t previousId, uint64_t id);

// How many stream buffers hold a quarter of a second at `frameRate`, and at least 8.
uint32_t StreamBufferCount(double frameRate);

} // namespace quillon
