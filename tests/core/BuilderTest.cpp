// The three shape builders' batches: vertex counts, buffer sizes, primitives, cull modes,
// colours, the cull mode left behind, the precision rules, and requests the scene never makes.
#include <bit>
#include <numbers>

#include "geometry/Geometry.h"
#include "geometry/Rings.h"
#include "tests/core/CoreFixture.h"

namespace coretest {
namespace {

class BuilderTest : public CoreTest {
protected:
    void ExpectBatch(std::size_t index, D3DPRIMITIVETYPE type, UINT vertices, UINT primitives, D3DCULL cull) {
        ASSERT_LT(index, draws().size());
        const auto& draw = draws()[index];
        EXPECT_EQ(draw.type, type) << "batch " << index;
        EXPECT_EQ(draw.vertices.size(), vertices) << "batch " << index;
        EXPECT_EQ(draw.bufferLength, 16 * vertices) << "batch " << index;
        EXPECT_EQ(draw.startVertex, 0u) << "batch " << index;
        EXPECT_EQ(draw.primitiveCount, primitives) << "batch " << index;
        EXPECT_EQ(draw.cullMode, static_cast<DWORD>(cull)) << "batch " << index;
    }
};

float Distance(const ColorVertex& a, const ColorVertex& b) {
    return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
}

float LatitudeDegrees(const ColorVertex& v, float radius) {
    return static_cast<float>(std::asin(static_cast<double>(v.z) / radius) * 180.0 / std::numbers::pi);
}

TEST_F(BuilderTest, ConeIsTwoFansOverOneStripedRing) {
    DrawCone(3.5f, 15.0f, 16, kRed, kWhite);
    ASSERT_EQ(draws().size(), 2u);
    ExpectBatch(0, D3DPT_TRIANGLEFAN, 18, 16, D3DCULL_CW);
    ExpectBatch(1, D3DPT_TRIANGLEFAN, 18, 16, D3DCULL_CCW);
    EXPECT_EQ(State(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));

    const auto& lateral = draws()[0].vertices;
    const auto& base = draws()[1].vertices;
    EXPECT_EQ(lateral[0].y, 15.0f);
    EXPECT_EQ(lateral[0].color, kWhite);
    EXPECT_EQ(base[0].x + base[0].y + base[0].z, 0.0f);
    EXPECT_EQ(base[0].color, kWhite);
    EXPECT_EQ(lateral[1].color, kWhite);
    EXPECT_EQ(lateral[2].color, kRed);
    EXPECT_EQ(lateral[17].color, kWhite);
    for (int i = 1; i <= 17; ++i) {
        EXPECT_EQ(lateral[i].y, 0.0f);
        EXPECT_NEAR(std::hypot(lateral[i].x, lateral[i].z), 3.5f, 1e-5f);
        EXPECT_EQ(std::memcmp(&lateral[i], &base[i], sizeof(ColorVertex)), 0) << "both fans share the ring";
    }
    // The angle grows from +x toward +z.
    EXPECT_EQ(lateral[1].x, 3.5f);
    EXPECT_GT(lateral[2].z, 0.0f);
    // The closing vertex lies on top of the first up to the single-precision walk's error.
    const float gap = Distance(lateral[17], lateral[1]);
    EXPECT_GT(gap, 1e-6f);
    EXPECT_LT(gap, 4e-6f);
}

TEST_F(BuilderTest, OddSliceCountClosesTheConesRingWithTheOtherColour) {
    DrawCone(1.0f, 1.0f, 5, kRed, kWhite);
    const auto& ring = draws()[0].vertices;
    EXPECT_EQ(ring[1].color, kWhite);
    EXPECT_EQ(ring[6].color, kRed);
}

TEST_F(BuilderTest, CylinderIsAStripAndTwoDiscs) {
    DrawCylinder(1.8f, 4.0f, 32, kRed, kWhite);  // the hub
    ASSERT_EQ(draws().size(), 3u);
    ExpectBatch(0, D3DPT_TRIANGLESTRIP, 66, 64, D3DCULL_CCW);
    ExpectBatch(1, D3DPT_TRIANGLEFAN, 34, 32, D3DCULL_CCW);
    ExpectBatch(2, D3DPT_TRIANGLEFAN, 34, 32, D3DCULL_CW);
    EXPECT_EQ(State(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CW));

    const auto& side = draws()[0].vertices;
    for (int j = 0; j <= 32; ++j) {
        const auto& bottom = side[2 * j];
        const auto& top = side[2 * j + 1];
        EXPECT_EQ(bottom.y, 0.0f);
        EXPECT_EQ(top.y, 4.0f);
        EXPECT_EQ(bottom.x, top.x);
        EXPECT_EQ(bottom.z, top.z);
        EXPECT_EQ(bottom.color, j % 2 == 0 ? kWhite : kRed) << "column " << j;
        EXPECT_EQ(top.color, bottom.color);
    }
    EXPECT_EQ(side[64].color, side[0].color) << "an even count closes the side in the colour it began with";
    EXPECT_EQ(draws()[1].vertices[0].y, 0.0f);
    EXPECT_EQ(draws()[2].vertices[0].y, 4.0f);
    for (int i = 1; i <= 33; ++i) {
        EXPECT_EQ(draws()[1].vertices[i].color, i % 2 == 0 ? kRed : kWhite);
        EXPECT_EQ(draws()[2].vertices[i].y, 4.0f);
        EXPECT_EQ(draws()[2].vertices[i].x, draws()[1].vertices[i].x);
    }
}

TEST_F(BuilderTest, ArmCylinderStartsRed) {
    DrawCylinder(0.5f, 8.0f, 10, kWhite, kRed);
    ASSERT_EQ(draws().size(), 3u);
    ExpectBatch(0, D3DPT_TRIANGLESTRIP, 22, 20, D3DCULL_CCW);
    ExpectBatch(1, D3DPT_TRIANGLEFAN, 12, 10, D3DCULL_CCW);
    ExpectBatch(2, D3DPT_TRIANGLEFAN, 12, 10, D3DCULL_CW);
    EXPECT_EQ(draws()[0].vertices[0].color, kRed);
    EXPECT_EQ(draws()[1].vertices[0].color, kRed);
    EXPECT_EQ(draws()[2].vertices[0].color, kRed);
}

TEST_F(BuilderTest, CupIsTwoHalfCapsAndEighteenBands) {
    DrawHalfSphere(2.0f, 20, 20, kWhite, kRed);
    ASSERT_EQ(draws().size(), 20u);
    ExpectBatch(0, D3DPT_TRIANGLEFAN, 22, 10, D3DCULL_CW);
    ExpectBatch(1, D3DPT_TRIANGLEFAN, 22, 10, D3DCULL_CW);
    for (std::size_t band = 2; band < 20; ++band)
        ExpectBatch(band, D3DPT_TRIANGLESTRIP, 22, 20, D3DCULL_NONE);
    EXPECT_EQ(State(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));

    const auto& upperCap = draws()[0].vertices;
    const auto& lowerCap = draws()[1].vertices;
    EXPECT_EQ(upperCap[0].z, 2.0f);
    EXPECT_EQ(lowerCap[0].z, -2.0f);
    EXPECT_EQ(upperCap[0].color, kWhite);
    EXPECT_EQ(lowerCap[0].color, kWhite);
    EXPECT_NEAR(LatitudeDegrees(upperCap[1], 2.0f), 81.0f, 1e-3f);
    EXPECT_NEAR(LatitudeDegrees(lowerCap[1], 2.0f), -81.0f, 1e-3f);
    // The lower ring is the upper one mirrored: same radius, opposite height.
    EXPECT_EQ(lowerCap[5].z, -upperCap[5].z);
    // Both rings run the same way round; the lower was written backwards from index 21.
    for (int i = 1; i <= 21; ++i) {
        EXPECT_NEAR(lowerCap[i].x, upperCap[i].x, 1e-6f) << i;
        EXPECT_NEAR(lowerCap[i].y, upperCap[i].y, 1e-6f) << i;
        EXPECT_EQ(lowerCap[i].color, upperCap[i].color);
    }

    // Bands: lower edges at 72, 63, ..., -81 degrees; 11 columns from 0 to 180 degrees; a
    // checkerboard whose first band starts red.
    for (int band = 0; band < 18; ++band) {
        const auto& strip = draws()[2 + band].vertices;
        EXPECT_NEAR(LatitudeDegrees(strip[1], 2.0f), 72.0f - 9.0f * static_cast<float>(band), 1e-3f) << "band " << band;
        EXPECT_NEAR(LatitudeDegrees(strip[0], 2.0f), 81.0f - 9.0f * static_cast<float>(band), 1e-3f) << "band " << band;
        EXPECT_EQ(strip[0].color, band % 2 == 0 ? kRed : kWhite) << "band " << band;
        for (int j = 0; j <= 10; ++j) {
            EXPECT_EQ(strip[2 * j].color, strip[2 * j + 1].color);
            EXPECT_EQ(strip[2 * j].color, (band + j) % 2 == 0 ? kRed : kWhite);
            EXPECT_GE(strip[2 * j].y, -1e-6f) << "every column lies on the +y side";
        }
        EXPECT_NEAR(std::atan2(strip[20].y, strip[20].x), std::numbers::pi_v<float>, 1e-5f);
    }
}

// Where a cap's ring meets the neighbouring band's edge the two latitudes come from different
// rounding paths (double precision for the caps, the single-precision walk for the bands) and
// differ in the last place: in the cup the rings' radii part by a few units in the last place
// while their heights happen to round alike.
TEST_F(BuilderTest, CapRingsAndBandEdgesComeFromDifferentRoundings) {
    DrawHalfSphere(2.0f, 20, 20, kWhite, kRed);
    const ColorVertex upperRing = draws()[0].vertices[1];     // theta = 0: x is the ring's radius
    const ColorVertex firstBandTop = draws()[2].vertices[0];  // the first band's upper edge at theta = 0
    const ColorVertex lowerRing = draws()[1].vertices[21];    // theta = -2 pi, the walk's last vertex
    const ColorVertex lastBandBottom = draws()[19].vertices[1];
    EXPECT_NE(upperRing.x, firstBandTop.x);
    EXPECT_LE(UlpDistance(upperRing.x, firstBandTop.x), 16);
    EXPECT_EQ(upperRing.z, firstBandTop.z);
    EXPECT_NE(lowerRing.x, lastBandBottom.x);
    EXPECT_LE(UlpDistance(lowerRing.x, lastBandBottom.x), 16);
    EXPECT_EQ(lowerRing.z, lastBandBottom.z);
    // Mirror images: the lowest band's edge carries the upper cap's rounding and vice versa.
    EXPECT_EQ(lowerRing.z, -upperRing.z);
}

TEST_F(BuilderTest, BandCountFollowsTheSinglePrecisionLatitudeWalk) {
    struct Case {
        int stacks;
        std::size_t bands;
    };
    // Where the walk stops a hair above -pi/2 one more band is drawn.
    const Case cases[] = {{10, 8},  {16, 14}, {20, 18}, {7, 6},   {9, 8}, {12, 11}, {13, 12},
                          {14, 13}, {17, 16}, {18, 17}, {19, 18}, {1, 0}, {2, 0},   {3, 1}};
    for (const Case c : cases) {
        recording().Clear();
        DrawHalfSphere(2.0f, 20, c.stacks, kWhite, kRed);
        EXPECT_EQ(draws().size(), 2 + c.bands) << c.stacks << " stacks";
        EXPECT_EQ(State(D3DRS_CULLMODE), static_cast<DWORD>(c.bands == 0 ? D3DCULL_CW : D3DCULL_NONE));
    }
}

// The cone and cylinder round the step to single precision once and add in single precision;
// the half-sphere adds the double-precision step and rounds each sum. At 20 slices the two
// walks first part at the ninth ring position.
TEST_F(BuilderTest, TheTwoAngleWalksPartAtTheNinthPositionForTwentySlices) {
    const double step = 2.0 * std::numbers::pi / 20.0;
    float single = 0.0f, widened = 0.0f;
    int firstDifference = -1;
    std::vector<float> singleAngles, widenedAngles;
    for (int i = 0; i <= 20; ++i) {
        singleAngles.push_back(single);
        widenedAngles.push_back(widened);
        if (firstDifference < 0 && single != widened)
            firstDifference = i;
        single = single + static_cast<float>(step);
        widened = static_cast<float>(static_cast<double>(widened) + step);
    }
    EXPECT_EQ(firstDifference, 8) << "0-based index of the ninth ring position";

    const auto cosTimes = [](float angle, float r) { return r * static_cast<float>(std::cos(double{angle})); };
    DrawCone(2.0f, 1.0f, 20, kRed, kWhite);
    DrawHalfSphere(2.0f, 20, 20, kWhite, kRed);
    const auto& coneRing = draws()[0].vertices;
    const auto& capRing = draws()[2].vertices;
    const float capRadius = 2.0f * static_cast<float>(std::cos(double{static_cast<float>(
                                       std::numbers::pi / 2 - double{static_cast<float>(std::numbers::pi / 20)})}));
    for (int i = 0; i <= 20; ++i) {
        EXPECT_EQ(coneRing[i + 1].x, cosTimes(singleAngles[i], 2.0f)) << i;
        EXPECT_EQ(capRing[i + 1].x, static_cast<float>(std::cos(double{widenedAngles[i]})) * capRadius) << i;
    }
    EXPECT_NE(coneRing[9].x, cosTimes(widenedAngles[8], 2.0f));
}

// The remembered directions are those of the angle asked for, bit for bit, whatever was asked
// before: angles that share a place in the table, a zero of either sign, and a second pass.
TEST_F(BuilderTest, RememberedDirectionsAreAlwaysTheAnglesOwn) {
    std::vector<float> angles = {0.0f, -0.0f, 0.0f};
    for (int i = 0; i < 5000; ++i) {
        angles.push_back(static_cast<float>(i) * 0.0137f - 30.0f);
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (const float angle : angles) {
            const rings::Direction d = rings::DirectionOf(angle);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(d.cos), std::bit_cast<std::uint32_t>(rings::Cos(angle))) << angle;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(d.sin), std::bit_cast<std::uint32_t>(rings::Sin(angle))) << angle;
        }
    }
}

TEST_F(BuilderTest, SliceCountsBelowOneDrawNothing) {
    for (int slices : {0, -1, -20}) {
        DrawCone(1.0f, 1.0f, slices, kRed, kWhite);
        DrawCylinder(1.0f, 1.0f, slices, kRed, kWhite);
        DrawHalfSphere(1.0f, slices, 20, kRed, kWhite);
    }
    EXPECT_TRUE(draws().empty());
    EXPECT_TRUE(recording().CallsStartingWith("CreateVertexBuffer").empty());
}

TEST_F(BuilderTest, StackCountsBelowOneDrawNothingAndEndAtOnce) {
    for (int stacks : {0, -1, -7})
        DrawHalfSphere(1.0f, 20, stacks, kRed, kWhite);
    EXPECT_TRUE(draws().empty());
}

// An odd slice count would ask each band for one triangle more than its strip holds; no batch
// may draw past its vertices.
TEST_F(BuilderTest, OddHalfSphereSlicesNeverDrawPastTheStrip) {
    for (int slices : {1, 3, 7, 21}) {
        recording().Clear();
        DrawHalfSphere(1.0f, slices, 6, kRed, kWhite);
        for (const auto& draw : draws()) {
            EXPECT_LE(draw.primitiveCount + 2, draw.vertices.size()) << slices << " slices";
        }
        const bool anyBand =
            std::any_of(draws().begin(), draws().end(), [](const auto& d) { return d.type == D3DPT_TRIANGLESTRIP; });
        EXPECT_EQ(anyBand, slices > 1) << slices << " slices";
    }
}

TEST_F(BuilderTest, ABufferThatCannotBeMadeOrLockedSkipsItsBatch) {
    recording().failures.createVertexBuffer = true;
    DrawCone(1.0f, 1.0f, 8, kRed, kWhite);
    EXPECT_TRUE(draws().empty());
    EXPECT_TRUE(recording().CallsStartingWith("Lock").empty());

    recording().failures = {};
    recording().failures.lock = true;
    DrawCylinder(1.0f, 1.0f, 8, kRed, kWhite);
    EXPECT_TRUE(draws().empty());
    EXPECT_EQ(recording().CallsStartingWith("Release(buffer)").size(), 3u) << "each unlocked buffer is released";
    EXPECT_EQ(recording().liveBuffers, 0);

    recording().failures = {};
    DrawHalfSphere(2.0f, 20, 20, kWhite, kRed);
    EXPECT_EQ(draws().size(), 20u) << "drawing resumes once buffers can be made";
}

}  // namespace
}  // namespace coretest
