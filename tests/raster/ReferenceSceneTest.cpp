// The reference scenes: each scene file replayed through the software device must give the
// picture a real Direct3D 9 drew for it, pixel for pixel (red, green and blue).
#include <fstream>
#include <sstream>

#include "tests/raster/RasterSupport.h"
#include "tests/raster/SceneFile.h"

namespace rastertest {
namespace {

const std::string kReferenceDir = std::string(ANEMOMETER_SHARED_DIR) + "/d3d9-reference/";

class ReferenceScene : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferenceScene, MatchesRealDirect3D9) {
    const std::string name = GetParam();
    std::ifstream file(kReferenceDir + name + ".scene");
    ASSERT_TRUE(file.good()) << "missing " << kReferenceDir << name << ".scene";
    std::stringstream text;
    text << file.rdbuf();

    Picture expected;
    std::string error;
    ASSERT_TRUE(ReadPng(kReferenceDir + name + ".png", &expected, &error)) << error;

    TestDevice device(800, 600);
    ASSERT_TRUE(PlayScene(text.str(), device, &error)) << error;
    EXPECT_TRUE(SamePicture(device.Read(), expected, "reference_" + name));
}

INSTANTIATE_TEST_SUITE_P(Raster, ReferenceScene,
                         ::testing::Values("camera", "cull", "depth", "edges", "flat-fan", "flat-strip", "gouraud",
                                           "near-clip", "wireframe"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

}  // namespace
}  // namespace rastertest
