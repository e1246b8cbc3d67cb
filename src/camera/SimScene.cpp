#include "camera/SimScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace quillon {

namespace {

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

// Layout of the picture in sensor rows and columns.
constexpr uint32_t kSkyEnd = 260;
constexpr uint32_t kStandsEnd = 470;
constexpr uint32_t kTrackTop = 520;
constexpr uint32_t kLaneHeight = 125;
constexpr uint32_t kLaneCount = 8;
constexpr uint32_t kLaneLineThickness = 5;
constexpr uint32_t kFinishLineLeft = 1020;
constexpr uint32_t kFinishLineWidth = 8;
constexpr uint32_t kCrowdCellWidth = 6;
constexpr uint32_t kCrowdCellHeight = 9;

// Runners re-enter from the left this many pixels after leaving on the right.
constexpr double kRunnerGap = 400.0;
constexpr double kSlowestRunner = 600.0; // pixels per second
constexpr double kSpeedStep = 40.0;
constexpr double kPixelsPerPose = 60.0;

constexpr Rgb kLineWhite{235, 235, 235};
constexpr Rgb kTrack{185, 95, 75};
constexpr Rgb kGrass{70, 150, 70};
constexpr Rgb kSeat{70, 70, 75};
constexpr Rgb kSkin{205, 150, 115};
constexpr Rgb kShorts{35, 35, 45};
constexpr Rgb kShoe{25, 25, 25};
constexpr std::array<Rgb, 7> kCrowd{{{150, 60, 60},
                                     {60, 80, 150},
                                     {190, 180, 90},
                                     {200, 200, 200},
                                     {90, 130, 90},
                                     {160, 110, 60},
                                     {120, 70, 130}}};
constexpr std::array<Rgb, SimScene::kRunnerCount> kShirts{{{215, 40, 40},
                                                           {40, 70, 210},
                                                           {230, 210, 40},
                                                           {40, 170, 70},
                                                           {240, 240, 240},
                                                           {240, 130, 30},
                                                           {140, 50, 170},
                                                           {40, 190, 200}}};

uint32_t Hash(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

uint8_t Clamp(int value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

Rgb Shade(Rgb colour, int delta) {
    return {Clamp(colour.r + delta), Clamp(colour.g + delta), Clamp(colour.b + delta)};
}

// A little texture so that the picture is not flat: -range .. range.
int Noise(uint32_t x, uint32_t y, int range) {
    return static_cast<int>(Hash(x, y) % static_cast<uint32_t>(2 * range + 1)) - range;
}

Rgb SkyAt(uint32_t y) {
    const double t = static_cast<double>(y) / kSkyEnd; // lighter towards the horizon
    return {static_cast<uint8_t>(110 + 60 * t), static_cast<uint8_t>(150 + 50 * t),
            static_cast<uint8_t>(205 + 30 * t)};
}

Rgb StandsAt(uint32_t x, uint32_t y) {
    if (y % kCrowdCellHeight == 0) {
        return Shade(kSeat, -30); // edge of a seat row
    }
    const uint32_t h = Hash(x / kCrowdCellWidth, y / kCrowdCellHeight);
    if (h % 10 < 6) {
        return Shade(kCrowd[(h >> 8) % kCrowd.size()], Noise(x, y, 10));
    }
    return kSeat;
}

Rgb TrackAt(uint32_t x, uint32_t y) {
    const bool laneLine = (y - kTrackTop) % kLaneHeight < kLaneLineThickness &&
                          y < kTrackTop + kLaneCount * kLaneHeight + kLaneLineThickness;
    const bool finishLine = x >= kFinishLineLeft && x < kFinishLineLeft + kFinishLineWidth;
    if (laneLine || finishLine) {
        return Shade(kLineWhite, Noise(x, y, 4));
    }
    return Shade(kTrack, Noise(x, y, 8));
}

Rgb BackgroundAt(uint32_t x, uint32_t y) {
    if (y < kSkyEnd) {
        return SkyAt(y);
    }
    if (y < kStandsEnd) {
        return StandsAt(x, y);
    }
    if (y < kTrackTop) {
        return Shade(kGrass, Noise(x, y, 10));
    }
    return TrackAt(x, y);
}

uint8_t PlaneValue(Rgb colour, SimScene::Plane plane) {
    switch (plane) {
    case SimScene::kPlaneRed:
        return colour.r;
    case SimScene::kPlaneBlue:
        return colour.b;
    default:
        return colour.g;
    }
}

// A small canvas for drawing one runner pose with round shapes.
class SpriteCanvas {
public:
    SpriteCanvas(uint32_t width, uint32_t height)
        : m_width(width), m_height(height), m_colour(width * height), m_inside(width * height) {}

    void Disc(double cx, double cy, double radius, Rgb colour) {
        Segment(cx, cy, cx, cy, radius, colour);
    }

    // A stroke of the given half width between two points.
    void Segment(double x0, double y0, double x1, double y1, double halfWidth, Rgb colour) {
        const double dx = x1 - x0;
        const double dy = y1 - y0;
        const double lengthSquared = dx * dx + dy * dy;
        for (uint32_t y = 0; y < m_height; ++y) {
            for (uint32_t x = 0; x < m_width; ++x) {
                const double px = x + 0.5 - x0;
                const double py = y + 0.5 - y0;
                const double t = lengthSquared > 0
                                     ? std::clamp((px * dx + py * dy) / lengthSquared, 0.0, 1.0)
                                     : 0.0;
                const double ex = px - t * dx;
                const double ey = py - t * dy;
                if (ex * ex + ey * ey <= halfWidth * halfWidth) {
                    m_colour[y * m_width + x] = colour;
                    m_inside[y * m_width + x] = true;
                }
            }
        }
    }

    Rgb ColourAt(uint32_t x, uint32_t y) const { return m_colour[y * m_width + x]; }
    bool InsideAt(uint32_t x, uint32_t y) const { return m_inside[y * m_width + x]; }

private:
    uint32_t m_width;
    uint32_t m_height;
    std::vector<Rgb> m_colour;
    std::vector<bool> m_inside;
};

void DrawRunnerPose(SpriteCanvas& canvas, Rgb shirt, uint32_t pose) {
    // Legs and arms swing through four poses of one stride.
    constexpr std::array<double, 4> kSwingDegrees{28.0, 10.0, -10.0, -28.0};
    const double swing = kSwingDegrees[pose] * std::numbers::pi / 180.0;
    constexpr double kHipX = 30.0, kHipY = 68.0, kLegLength = 40.0;
    constexpr double kShoulderX = 32.0, kShoulderY = 28.0, kArmLength = 28.0;

    for (double side : {1.0, -1.0}) {
        const double footX = kHipX + side * kLegLength * std::sin(swing);
        const double footY = kHipY + kLegLength * std::cos(swing);
        canvas.Segment(kHipX, kHipY, footX, footY, 5.0, kSkin);
        canvas.Disc(footX + 2.0, footY, 4.0, kShoe);
        const double handX = kShoulderX - side * kArmLength * std::sin(swing * 0.8);
        const double handY = kShoulderY + kArmLength * std::cos(swing * 0.8);
        canvas.Segment(kShoulderX, kShoulderY, handX, handY, 3.5, kSkin);
    }
    canvas.Segment(30.0, 60.0, 30.0, 70.0, 10.0, kShorts);
    canvas.Segment(32.0, 26.0, 30.0, 60.0, 9.0, shirt);
    canvas.Disc(34.0, 13.0, 9.0, kSkin);
}

} // namespace

SimScene::SimScene()
    : m_background(kSensorWidth * kSensorHeight),
      m_sprites(kRunnerCount * kPoseCount * kSpriteBytes), m_masks(m_sprites.size()),
      m_template(kSensorWidth * kSensorHeight), m_litSprites(m_sprites.size()) {
    DrawBackground();
    DrawRunners();
    Prepare(FrameFormat{0, 0, kSensorWidth, kSensorHeight}, PlaneFactors{1.0f, 1.0f, 1.0f, 1.0f});
}

void SimScene::DrawBackground() {
    for (uint32_t y = 0; y < kSensorHeight; ++y) {
        for (uint32_t x = 0; x < kSensorWidth; ++x) {
            m_background[y * kSensorWidth + x] = PlaneValue(BackgroundAt(x, y), PlaneAt(x, y));
        }
    }
}

void SimScene::DrawRunners() {
    const double cycle = kSensorWidth + kSpriteWidth + kRunnerGap;
    for (uint32_t r = 0; r < kRunnerCount; ++r) {
        Runner& runner = m_runners[r];
        const uint32_t laneTop = kTrackTop + r * kLaneHeight + kLaneLineThickness;
        runner.top = (laneTop + (kLaneHeight - kLaneLineThickness - kSpriteHeight) / 2) & ~1u;
        runner.speed = kSlowestRunner + kSpeedStep * ((r * 5) % kRunnerCount);
        runner.startX = std::fmod(r * 731.0, cycle);
        runner.strides = runner.speed / kPixelsPerPose;
        for (uint32_t pose = 0; pose < kPoseCount; ++pose) {
            SpriteCanvas canvas(kSpriteWidth, kSpriteHeight);
            DrawRunnerPose(canvas, kShirts[r], pose);
            const size_t base = SpriteOffset(r, pose);
            for (uint32_t y = 0; y < kSpriteHeight; ++y) {
                for (uint32_t x = 0; x < kSpriteWidth; ++x) {
                    const size_t i = base + y * kSpriteWidth + x;
                    m_sprites[i] = PlaneValue(canvas.ColourAt(x, y), PlaneAt(x, y));
                    m_masks[i] = canvas.InsideAt(x, y) ? 0xFF : 0x00;
                }
            }
        }
    }
}

void SimScene::Prepare(const FrameFormat& region, const PlaneFactors& factors) {
    m_region = region;
    std::array<Lut, kPlaneCount> luts;
    for (uint32_t plane = 0; plane < kPlaneCount; ++plane) {
        for (uint32_t v = 0; v < 256; ++v) {
            luts[plane].value[v] = Clamp(static_cast<int>(std::lround(v * factors[plane])));
        }
    }
    for (uint32_t y = 0; y < region.height; ++y) {
        const uint32_t sensorY = region.yOffset + y;
        const uint8_t* in = &m_background[sensorY * kSensorWidth + region.xOffset];
        uint8_t* out = &m_template[y * region.width];
        for (uint32_t x = 0; x < region.width; ++x) {
            out[x] = luts[PlaneAt(region.xOffset + x, sensorY)].value[in[x]];
        }
    }
    for (size_t sprite = 0; sprite < kRunnerCount * kPoseCount; ++sprite) {
        for (uint32_t y = 0; y < kSpriteHeight; ++y) {
            for (uint32_t x = 0; x < kSpriteWidth; ++x) {
                const size_t i = sprite * kSpriteBytes + y * kSpriteWidth + x;
                m_litSprites[i] = luts[PlaneAt(x, y)].value[m_sprites[i]];
            }
        }
    }
}

void SimScene::Render(double seconds, uint8_t* dest) const {
    std::memcpy(dest, m_template.data(), size_t{m_region.width} * m_region.height);
    const double cycle = kSensorWidth + kSpriteWidth + kRunnerGap;
    for (uint32_t r = 0; r < kRunnerCount; ++r) {
        const Runner& runner = m_runners[r];
        const double x = std::fmod(runner.startX + runner.speed * seconds, cycle) - kSpriteWidth;
        // Even columns keep the sprite's Bayer pattern in step with the sensor's.
        const int32_t left = static_cast<int32_t>(std::floor(x)) & ~1;
        const auto pose = static_cast<uint32_t>(runner.strides * seconds) % kPoseCount;
        BlitRunner(runner, static_cast<uint32_t>(SpriteOffset(r, pose)), left, dest);
    }
}

void SimScene::BlitRunner(const Runner& runner, uint32_t sprite, int32_t left,
                          uint8_t* dest) const {
    const int64_t regionLeft = m_region.xOffset;
    const int64_t regionTop = m_region.yOffset;
    const int64_t x0 = std::max<int64_t>(left, regionLeft);
    const int64_t x1 = std::min<int64_t>(int64_t{left} + kSpriteWidth, regionLeft + m_region.width);
    const int64_t y0 = std::max<int64_t>(runner.top, regionTop);
    const int64_t y1 =
        std::min<int64_t>(int64_t{runner.top} + kSpriteHeight, regionTop + m_region.height);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const auto count = static_cast<size_t>(x1 - x0);
    for (int64_t y = y0; y < y1; ++y) {
        const size_t spriteIndex = sprite + (y - runner.top) * kSpriteWidth + (x0 - left);
        const uint8_t* pixels = &m_litSprites[spriteIndex];
        const uint8_t* mask = &m_masks[spriteIndex];
        uint8_t* out = dest + (y - regionTop) * m_region.width + (x0 - regionLeft);
        for (size_t i = 0; i < count; ++i) {
            out[i] = static_cast<uint8_t>((out[i] & ~mask[i]) | (pixels[i] & mask[i]));
        }
    }
}

SimScene::PlaneFactors SimScene::MeanReflectance(uint32_t x, uint32_t y, uint32_t width,
                                                 uint32_t height) const {
    std::array<uint64_t, kPlaneCount> sums{};
    std::array<uint64_t, kPlaneCount> counts{};
    for (uint32_t sy = y; sy < y + height; ++sy) {
        for (uint32_t sx = x; sx < x + width; ++sx) {
            const Plane plane = PlaneAt(sx, sy);
            sums[plane] += m_background[sy * kSensorWidth + sx];
            ++counts[plane];
        }
    }
    PlaneFactors means{};
    for (uint32_t plane = 0; plane < kPlaneCount; ++plane) {
        means[plane] = counts[plane] ? static_cast<float>(sums[plane]) / counts[plane] : 0.0f;
    }
    return means;
}

} // namespace quillon
