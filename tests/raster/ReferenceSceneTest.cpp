// The reference scenes: each scene file replayed through the software device must give the
// picture a real Direct3D 9 drew for it, pixel for pixel (red, green and blue).
#include <fstream>
#include <sstream>

#include "tests/raster/RasterSupport.h"
#include "tests/raster/SceneFile.h"

namespace rastertest {
namespace {

const std::string kReferenceDir = std::string(ANEMOMETER_REFERENCE_DIR) + "/d3d9/";

struct Reference {
    const char* name;
    // Pixels allowed to differ by one in a channel. Only the wireframe scene has any: colour
    // halves along two Gouraud edges, where this device's line interpolation rounds the other
    // way than the reference's (whose line setup arithmetic is not reproduced exactly).
    int toleratedRoundings;
};

class ReferenceScene : public ::testing::TestWithParam<Reference> {};

TEST_P(ReferenceScene, MatchesRealDirect3D9) {
    const std::string name = GetParam().name;
    std::ifstream file(kReferenceDir + name + ".scene");
    ASSERT_TRUE(file.good()) << "missing " << kReferenceDir << name << ".scene";
    std::stringstream text;
    text << file.rdbuf();

    Picture expected;
    std::string error;
    ASSERT_TRUE(ReadPng(kReferenceDir + name + ".png", &expected, &error)) << error;

    TestDevice device(800, 600);
    ASSERT_TRUE(PlayScene(text.str(), device, &error)) << error;
    EXPECT_TRUE(SamePicture(device.Read(), expected, "reference_" + name, GetParam().toleratedRoundings));
}

INSTANTIATE_TEST_SUITE_P(Raster, ReferenceScene,
                         ::testing::Values(Reference{"camera", 0}, Reference{"cull", 0}, Reference{"depth", 0},
                                           Reference{"edges", 0}, Reference{"flat-fan", 0}, Reference{"flat-strip", 0},
                                           Reference{"gouraud", 0}, Reference{"near-clip", 0},
                                           Reference{"wireframe", 12}),
                         [](const ::testing::TestParamInfo<Reference>& param) { return TestNameOf(param.param.name); });

}  // namespace
}  // namespace rastertest
