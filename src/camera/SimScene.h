#pragma once

#include "camera/CameraApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

// The simulated camera's picture: a finish line seen from the side of the track (sky, stands,
// infield, eight lanes, the white finish line across them) with one runner per lane crossing it
// again and again. Everything is drawn once, as 8-bit Bayer RGGB at sensor size, at "unit light";
// Prepare() then bakes region and brightness into a frame template, so rendering a frame is one
// copy plus eight small masked sprite copies.
//
// Threads: the constructor and MeanReflectance() only touch the drawing made at construction,
// which never changes. Prepare() and Render() belong to the camera's streaming thread.
class SimScene {
public:
    static constexpr uint32_t kSensorWidth = 2048;
    static constexpr uint32_t kSensorHeight = 1536;
    static constexpr uint32_t kRunnerCount = 8;

    // Colour planes of a Bayer RGGB sensor: red, green on red rows, green on blue rows, blue.
    enum Plane { kPlaneRed = 0, kPlaneGreen1 = 1, kPlaneGreen2 = 2, kPlaneBlue = 3 };
    static constexpr uint32_t kPlaneCount = 4;
    using PlaneFactors = std::array<float, kPlaneCount>;

    SimScene();

    // Region (inside the sensor, offsets even) and the factor by which light reaches each plane.
    void Prepare(const FrameFormat& region, const PlaneFactors& factors);
    // Writes the prepared region at `seconds` into `dest` (width x height bytes).
    void Render(double seconds, uint8_t* dest) const;

    // Mean unit-light value of each plane over a sensor rectangle (the static picture only).
    PlaneFactors MeanReflectance(uint32_t x, uint32_t y, uint32_t width, uint32_t height) const;

    static Plane PlaneAt(uint32_t x, uint32_t y) { return Plane((y & 1) * 2 + (x & 1)); }

private:
    static constexpr uint32_t kSpriteWidth = 64;
    static constexpr uint32_t kSpriteHeight = 112;
    static constexpr uint32_t kPoseCount = 4;
    static constexpr uint32_t kSpriteBytes = kSpriteWidth * kSpriteHeight;

    struct Runner {
        double startX;  // sensor x at time 0
        double speed;   // pixels per second
        double strides; // pose changes per second
        uint32_t top;   // sensor row of the sprite's top, even
    };
    struct Lut {
        std::array<uint8_t, 256> value;
    };

    void DrawBackground();
    void DrawRunners();
    void BlitRunner(const Runner& runner, uint32_t sprite, int32_t left, uint8_t* dest) const;
    size_t SpriteOffset(uint32_t runner, uint32_t pose) const {
        return (runner * kPoseCount + pose) * kSpriteBytes;
    }

    std::vector<uint8_t> m_background; // sensor size, unit light
    std::vector<uint8_t> m_sprites;    // kRunnerCount x kPoseCount sprites, unit light
    std::vector<uint8_t> m_masks;      // 0xFF where a sprite pixel belongs to the runner
    std::array<Runner, kRunnerCount> m_runners{};

    // Prepared state (streaming thread).
    FrameFormat m_region;
    std::vector<uint8_t> m_template;   // region at the current brightness, no runners
    std::vector<uint8_t> m_litSprites; // sprites at the current brightness
};

} // namespace quillon
