// Where the eight pieces stand: the world matrix each batch is drawn under, checked against the
// instrument's layout at rotor angles 0 and 90 degrees.
#include "tests/core/CoreFixture.h"

namespace coretest {
namespace {

// Draw indices of each piece's batches within a frame.
constexpr std::size_t kMast = 0, kHub = 2, kArm1 = 5, kArm2 = 8, kArm3 = 11, kCup1 = 14, kCup2 = 34, kCup3 = 54;

class AssemblyTest : public CoreTest {
protected:
    void DrawAt(float degrees) {
        sceneState.rotationDegrees = degrees;
        recording().Clear();
        RenderFrame();
        ASSERT_EQ(draws().size(), 74u);
    }
    const D3DMATRIX& World(std::size_t draw) { return draws()[draw].world; }
};

TEST_F(AssemblyTest, EachPieceIsDrawnUnderItsOwnWorldMatrix) {
    DrawAt(0.0f);
    // Batches of one piece share its matrix; a SetTransform of the world comes before each piece.
    const std::size_t firsts[] = {kMast, kHub, kArm1, kArm2, kArm3, kCup1, kCup2, kCup3, 74};
    for (std::size_t piece = 0; piece < 8; ++piece) {
        for (std::size_t d = firsts[piece]; d < firsts[piece + 1]; ++d) {
            EXPECT_TRUE(SameBits(World(d), World(firsts[piece]))) << "draw " << d;
        }
    }
    EXPECT_EQ(draws()[kHub].vertices.size(), 66u);
    EXPECT_EQ(draws()[kArm1].vertices.size(), 22u);
    EXPECT_EQ(draws()[kCup1].vertices.size(), 22u);
}

TEST_F(AssemblyTest, AtZeroDegrees) {
    DrawAt(0.0f);
    D3DXMATRIX hub;
    D3DXMatrixTranslation(&hub, 0.0f, 6.0f, 0.0f);
    EXPECT_TRUE(SameBits(World(kHub), hub)) << "the hub's matrix is exactly T(0, 6, 0)";

    // Mast: base on y = -5, apex at y = 10.
    EXPECT_POINT_NEAR(Transform(World(kMast), {0, 15, 0}), 0.0f, 10.0f, 0.0f, 0.0f);
    EXPECT_POINT_NEAR(Transform(World(kMast), {3.5f, 0, 0}), 3.5f, -5.0f, 0.0f, 0.0f);

    // Arm 1 along -x at height 8 from x = -1.5 (bottom disc, inside the hub) to -9.5.
    EXPECT_POINT_NEAR(Transform(World(kArm1), {0, 0, 0}), -1.5f, 8.0f, 0.0f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kArm1), {0, 8, 0}), -9.5f, 8.0f, 0.0f, 1e-5f);
    // Arms 2 and 3 a third and two thirds of a turn further.
    const float half = 0.5f, root = std::sqrt(3.0f) / 2.0f;
    EXPECT_POINT_NEAR(Transform(World(kArm2), {0, 8, 0}), 9.5f * half, 8.0f, 9.5f * root, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kArm3), {0, 8, 0}), 9.5f * half, 8.0f, -9.5f * root, 1e-5f);

    // Cup 1 centred at (-11.5, 8, -0.5), dome toward +z, the +z pole at the bottom.
    EXPECT_POINT_NEAR(Transform(World(kCup1), {0, 0, 0}), -11.5f, 8.0f, -0.5f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kCup1), {0, 2, 0}), -11.5f, 8.0f, 1.5f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kCup1), {0, 0, 2}), -11.5f, 6.0f, -0.5f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kCup1), {0, 0, -2}), -11.5f, 10.0f, -0.5f, 1e-5f);
    // Its rim touches the arm's outer end.
    EXPECT_POINT_NEAR(Transform(World(kCup1), {2, 0, 0}), -9.5f, 8.0f, -0.5f, 1e-5f);
}

TEST_F(AssemblyTest, AtNinetyDegreesTheRotorHasTurnedAQuarterTowardPlusZ) {
    DrawAt(90.0f);
    EXPECT_POINT_NEAR(Transform(World(kArm1), {0, 0, 0}), 0.0f, 8.0f, 1.5f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kArm1), {0, 8, 0}), 0.0f, 8.0f, 9.5f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kCup1), {0, 0, 0}), -0.5f, 8.0f, 11.5f, 1e-5f);
    EXPECT_POINT_NEAR(Transform(World(kCup1), {0, 2, 0}), 1.5f, 8.0f, 11.5f, 1e-5f);  // dome toward +x
    // The hub's own axis does not move.
    EXPECT_POINT_NEAR(Transform(World(kHub), {0, 4, 0}), 0.0f, 10.0f, 0.0f, 1e-6f);
    // Cups 2 and 3 follow a third of a turn apart: all three centres lie on one circle.
    for (std::size_t cup : {kCup1, kCup2, kCup3}) {
        const Point c = Transform(World(cup), {0, 0, 0});
        EXPECT_NEAR(std::hypot(c.x, c.z), std::hypot(11.5f, 0.5f), 1e-4f);
    }
}

TEST_F(AssemblyTest, TheMastNeverMoves) {
    DrawAt(0.0f);
    const D3DMATRIX first = World(kMast);
    for (float degrees : {1.0f, 90.0f, 217.0f, 359.0f}) {
        DrawAt(degrees);
        EXPECT_TRUE(SameBits(World(kMast), first)) << degrees;
    }
}

}  // namespace
}  // namespace coretest
