// A sweep of whole frames of the viewer against a committed table of hashes of the colour and
// depth buffers: every rotor angle in the start-up state and every seventh angle under each key
// state and eye position below. Any changed pixel or depth value fails it, so the device's
// internals can be rearranged with the pictures held fixed. ANEMOMETER_UPDATE_HASHES=1 rewrites
// the table after a deliberate change (look at the golden frames first).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "device/Device.h"
#include "platform/d3d9/Standin.h"
#include "scene/Scene.h"
#include "tests/raster/RasterSupport.h"

namespace rastertest {
namespace {

struct SweepState {
    const char* name;
    int angleStep;
    DWORD fillMode = D3DFILL_SOLID;
    DWORD shadeMode = D3DSHADE_FLAT;
    DWORD depth = D3DZB_TRUE;
    float eyeX = 0, eyeY = 0, eyeZ = 0;
};

// FNV-1a taking one whole value per step (not one byte), so the same on any byte order.
class Fnv1a {
public:
    void Add(std::uint64_t value) { hash_ = (hash_ ^ value) * 0x100000001B3u; }
    std::uint64_t Value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xCBF29CE484222325u;
};

std::string FrameHash(float degrees) {
    sceneState.rotationDegrees = degrees;
    RenderFrame();
    const standin::Image color = standin::BackBuffer(sceneState.device);
    const standin::DepthImage depth = standin::DepthBuffer(sceneState.device);
    Fnv1a colorHash, depthHash;
    const auto pixels = static_cast<std::size_t>(color.width) * static_cast<std::size_t>(color.height);
    for (std::size_t i = 0; i < pixels; ++i) {
        colorHash.Add(color.pixels[i]);
        depthHash.Add(depth.values[i]);
    }
    char text[40];
    std::snprintf(text, sizeof text, "%016llx %016llx", static_cast<unsigned long long>(colorHash.Value()),
                  static_cast<unsigned long long>(depthHash.Value()));
    return text;
}

const std::string kTablePath = std::string(ANEMOMETER_HASH_TABLE);

// "state angle colour depth" lines.
std::map<std::pair<std::string, int>, std::string> ReadTable() {
    std::map<std::pair<std::string, int>, std::string> table;
    std::ifstream in(kTablePath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string state, color, depth;
        int angle = 0;
        if (line.empty() || line[0] == '#' || !(fields >> state >> angle >> color >> depth)) {
            continue;
        }
        table[{state, angle}] = color + " " + depth;
    }
    return table;
}

#if defined(ANEMOMETER_TESTS_ONE_THREAD)
constexpr int kMostThreads = 1;  // see CMakeLists.txt
#else
constexpr int kMostThreads = 2;
#endif

class FrameHashSweep : public ::testing::TestWithParam<SweepState> {
protected:
    void SetUp() override { OpenViewerDevice(); }
    void TearDown() override { CloseViewerDevice(); }
};

TEST_P(FrameHashSweep, EveryFrameMatchesTheTable) {
    const SweepState& s = GetParam();
    IDirect3DDevice9* device = sceneState.device;
    device->SetRenderState(D3DRS_FILLMODE, s.fillMode);
    device->SetRenderState(D3DRS_SHADEMODE, s.shadeMode);
    device->SetRenderState(D3DRS_ZENABLE, s.depth);
    sceneState.eyeOffsetX = s.eyeX;
    sceneState.eyeOffsetY = s.eyeY;
    sceneState.eyeOffsetZ = s.eyeZ;
    const char* update = std::getenv("ANEMOMETER_UPDATE_HASHES");
    if (update != nullptr && *update == '1') {
        std::ofstream out(kTablePath, std::ios::app);
        for (int angle = 0; angle < 360; angle += s.angleStep) {
            out << s.name << ' ' << angle << ' ' << FrameHash(static_cast<float>(angle)) << '\n';
        }
        return;
    }
    // The same table for every kernel set but the widest on one thread (every seventh angle),
    // and for the widest on two (every angle of the state, or every seventh where the portable
    // set is the only one; one thread under an emulator).
    const auto table = ReadTable();
    const std::vector<std::string> sets = standin::RasterKernelSets();
    for (std::size_t k = 0; k < sets.size(); ++k) {
        const bool widest = k + 1 == sets.size();
        const int threads = widest ? kMostThreads : 1;
        ASSERT_TRUE(standin::UseRasterKernels(sets[k]));
        standin::SetRasterThreads(threads);
        for (int angle = 0; angle < 360; angle += widest && k > 0 ? s.angleStep : 7) {
            const auto expected = table.find({s.name, angle});
            ASSERT_NE(expected, table.end()) << s.name << " " << angle << " is missing from " << kTablePath;
            EXPECT_EQ(FrameHash(static_cast<float>(angle)), expected->second)
                << s.name << " at " << angle << " degrees, " << sets[k] << " kernels, " << threads << " thread(s)";
        }
    }
    standin::UseRasterKernels("");
    standin::SetRasterThreads(0);
}

INSTANTIATE_TEST_SUITE_P(
    Viewer, FrameHashSweep,
    ::testing::Values(SweepState{"start-up", 1}, SweepState{"wireframe", 7, D3DFILL_WIREFRAME},
                      SweepState{"gouraud", 7, D3DFILL_SOLID, D3DSHADE_GOURAUD},
                      SweepState{"depth-off", 7, D3DFILL_SOLID, D3DSHADE_FLAT, D3DZB_FALSE},
                      SweepState{"eye-moved", 7, D3DFILL_SOLID, D3DSHADE_FLAT, D3DZB_TRUE, -3, 4, 5},
                      SweepState{"eye-under", 7, D3DFILL_SOLID, D3DSHADE_FLAT, D3DZB_TRUE, 0, -40, 0},
                      // The eye just beside the hub at the arms' height: the arms sweep
                      // through it and the near plane cuts the hub and arms.
                      SweepState{"near-cut", 7, D3DFILL_SOLID, D3DSHADE_GOURAUD, D3DZB_TRUE, 0, -12, 27.5f},
                      // The same flat, where strips and fans with vertices to clip are set up
                      // side by side up to those.
                      SweepState{"near-cut-flat", 7, D3DFILL_SOLID, D3DSHADE_FLAT, D3DZB_TRUE, 0, -12, 27.5f}),
    [](const ::testing::TestParamInfo<SweepState>& param) { return TestNameOf(param.param.name); });

}  // namespace
}  // namespace rastertest
