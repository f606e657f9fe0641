// The rules the shape builders share for ring angles and trigonometry. Their rounding is part of
// the shapes' definition: neighbouring pieces meet, and rings close, exactly where these rules
// put them.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "geometry/Geometry.h"

namespace rings {

// Builders refuse slice counts outside [1, kMaxSlices]: below one there is no ring, and above it
// a ring would be finer than any pixel while its vertex buffer's byte length approaches 32 bits.
inline constexpr std::int32_t kMaxSlices = 1 << 16;

inline bool SlicesAreDrawable(std::int32_t slices) {
    return slices >= 1 && slices <= kMaxSlices;
}

// The angle between ring positions, 2 pi / slices divided in double precision.
inline double Step(std::int32_t slices) {
    return 2.0 * std::numbers::pi / static_cast<double>(slices);
}

// Cosine and sine: the double-precision results for the single-precision angle, each rounded once.
inline float Cos(float angle) {
    return static_cast<float>(std::cos(static_cast<double>(angle)));
}
inline float Sin(float angle) {
    return static_cast<float>(std::sin(static_cast<double>(angle)));
}

// Cos and Sin of one angle. The shapes walk the same angles in every frame (and a sphere's bands
// the same ones in each band), so the pairs are remembered, in a table of the last angle seen at
// each of its places: a miss computes the pair as Cos and Sin do, and no entry is ever wrong (each
// starts as angle +0's). Each thread has its own table.
struct Direction {
    float cos;
    float sin;
};

inline Direction DirectionOf(float angle) {
    struct Entry {
        std::uint32_t bits = 0;  // +0
        Direction direction{1.0f, 0.0f};
    };
    static thread_local std::array<Entry, 1024> table;
    const auto bits = std::bit_cast<std::uint32_t>(angle);
    Entry& entry = table[(bits * 0x9E3779B1u) >> 22];
    if (entry.bits != bits) {
        entry = {bits, {Cos(angle), Sin(angle)}};
    }
    return entry.direction;
}

// The cone's and cylinder's walk: the step rounded to single precision once per ring, the angle
// advanced by single-precision additions.
class SingleStepWalk {
public:
    explicit SingleStepWalk(std::int32_t slices) : step_(static_cast<float>(Step(slices))) {}
    float angle() const { return angle_; }
    void Advance() { angle_ = angle_ + step_; }

private:
    float step_;
    float angle_ = 0.0f;
};

// The half-sphere's walk: the step kept in double precision; each advance widens the angle,
// adds (or, walking backwards, subtracts) the step and rounds the sum to single precision.
class DoubleStepWalk {
public:
    explicit DoubleStepWalk(std::int32_t slices) : step_(Step(slices)) {}
    float angle() const { return angle_; }
    void Advance() { angle_ = static_cast<float>(static_cast<double>(angle_) + step_); }
    void AdvanceBackwards() { angle_ = static_cast<float>(static_cast<double>(angle_) - step_); }

private:
    double step_;
    float angle_ = 0.0f;
};

// A fan's closed ring at height y: vertices 1 .. slices + 1 from angle 0 (+x) toward +z, the last
// on top of the first, even indices in colorA and odd ones in colorB. Vertex 0, the fan's centre,
// is left to the caller.
inline void FillFanRing(ColorVertex* fan, float radius, float y, std::int32_t slices, D3DCOLOR colorA,
                        D3DCOLOR colorB) {
    SingleStepWalk theta(slices);
    for (std::int32_t i = 1; i <= slices + 1; ++i) {
        const Direction d = DirectionOf(theta.angle());
        fan[i] = {radius * d.cos, y, radius * d.sin, i % 2 == 0 ? colorA : colorB};
        theta.Advance();
    }
}

}  // namespace rings
