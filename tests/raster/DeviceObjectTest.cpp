// The software device as a Direct3D 9 object: creation and its refusals, default states,
// scene brackets, Clear, Present, and reference counts that leave nothing behind.
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "platform/d3d9/Standin.h"
#include "tests/raster/RasterSupport.h"

namespace rastertest {
namespace {

D3DPRESENT_PARAMETERS ViewerParameters() {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 800;
    p.BackBufferHeight = 600;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.hDeviceWindow = FakeWindow();
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    return p;
}

// Creating and releasing objects leaves the live counts where they were.
class LeakCheck {
public:
    LeakCheck() : devices_(standin::LiveDevices()), buffers_(standin::LiveVertexBuffers()) {}
    ~LeakCheck() {
        EXPECT_EQ(standin::LiveDevices(), devices_);
        EXPECT_EQ(standin::LiveVertexBuffers(), buffers_);
    }

private:
    int devices_;
    int buffers_;
};

// >>creation

TEST(RasterDeviceCreation, Direct3DCreate9WantsTheSdkVersion) {
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(direct3d, nullptr);
    EXPECT_EQ(direct3d->Release(), 0u);
}

TEST(RasterDeviceCreation, BuffersFollowThePresentationParameters) {
    LeakCheck leaks;
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = ViewerParameters();
    p.BackBufferWidth = 40;
    p.BackBufferHeight = 24;
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, FakeWindow(),
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device),
              D3D_OK);
    EXPECT_EQ(p.BackBufferCount, 1u);  // 0 means one, written back as the runtime does
    const standin::Image image = standin::BackBuffer(device);
    EXPECT_EQ(image.width, 40);
    EXPECT_EQ(image.height, 24);
    D3DVIEWPORT9 viewport{};
    ASSERT_EQ(device->GetViewport(&viewport), D3D_OK);
    EXPECT_EQ(viewport.Width, 40u);
    EXPECT_EQ(viewport.Height, 24u);
    EXPECT_EQ(viewport.MinZ, 0.0f);
    EXPECT_EQ(viewport.MaxZ, 1.0f);
    device->Release();
    direct3d->Release();
}

struct BadParameters {
    const char* what;
    void (*spoil)(D3DPRESENT_PARAMETERS&, UINT& adapter, DWORD& flags, HWND& focus);
};

class RasterDeviceRefusal : public ::testing::TestWithParam<BadParameters> {};

TEST_P(RasterDeviceRefusal, RefusesWithInvalidCall) {
    LeakCheck leaks;
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = ViewerParameters();
    UINT adapter = D3DADAPTER_DEFAULT;
    DWORD flags = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    HWND focus = FakeWindow();
    GetParam().spoil(p, adapter, flags, focus);
    auto* device = reinterpret_cast<IDirect3DDevice9*>(&p);  // must be overwritten with null
    EXPECT_EQ(direct3d->CreateDevice(adapter, D3DDEVTYPE_HAL, focus, flags, &p, &device), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(direct3d->Release(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Raster, RasterDeviceRefusal,
    ::testing::
        Values(
            BadParameters{"zero width", [](auto& p, auto&, auto&, auto&) { p.BackBufferWidth = 0; }},
            BadParameters{"zero height", [](auto& p, auto&, auto&, auto&) { p.BackBufferHeight = 0; }},
            BadParameters{"huge", [](auto& p, auto&, auto&, auto&) { p.BackBufferWidth = 1u << 20; }},
            BadParameters{"format", [](auto& p, auto&, auto&, auto&) { p.BackBufferFormat = D3DFMT_D16; }},
            BadParameters{"depth format",
                          [](auto& p, auto&, auto&, auto&) { p.AutoDepthStencilFormat = D3DFMT_X8R8G8B8; }},
            BadParameters{"swap effect",
                          [](auto& p, auto&, auto&, auto&) { p.SwapEffect = D3DSWAPEFFECT_FORCE_DWORD; }},
            BadParameters{"multisampling", [](auto& p, auto&, auto&,
                                              auto&) { p.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(4); }},
            BadParameters{"back buffers", [](auto& p, auto&, auto&, auto&) { p.BackBufferCount = 4; }},
            BadParameters{"interval", [](auto& p, auto&, auto&, auto&) { p.PresentationInterval = 3; }},
            BadParameters{
                "no window",
                [](auto& p, auto&, auto&, HWND& focus) {
                    p.hDeviceWindow = nullptr;
                    focus = nullptr;
                }},
            BadParameters{"adapter", [](auto&, UINT& adapter, auto&, auto&) { adapter = 1; }},
            BadParameters{"no vertex processing", [](auto&, auto&, DWORD& flags, auto&) { flags = 0; }},
            BadParameters{"two vertex processings",
                          [](auto&, auto&, DWORD& flags, auto&) { flags |= D3DCREATE_HARDWARE_VERTEXPROCESSING; }}),
    [](const ::testing::TestParamInfo<BadParameters>& param) {
        std::string name = param.param.what;
        for (char& c : name) {
            c = c == ' ' ? '_' : c;
        }
        return name;
    });

// >>state

TEST(RasterDeviceState, StartsWithDirect3DDefaults) {
    TestDevice device(16, 16, false);
    const std::pair<D3DRENDERSTATETYPE, DWORD> defaults[] = {
        {D3DRS_LIGHTING, TRUE},           {D3DRS_ZENABLE, D3DZB_TRUE},      {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},  {D3DRS_CULLMODE, D3DCULL_CCW},    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRS_FILLMODE, D3DFILL_SOLID},  {D3DRS_COLORWRITEENABLE, 0xF},    {D3DRS_CLIPPING, TRUE},
        {D3DRS_LASTPIXEL, TRUE},          {D3DRS_ALPHABLENDENABLE, FALSE},  {D3DRS_FOGEND, 0x3F800000u},
        {D3DRS_STENCILMASK, 0xFFFFFFFFu}, {D3DRS_DIFFUSEMATERIALSOURCE, 1}, {D3DRS_WRAP0, 0}};
    for (const auto& [state, value] : defaults) {
        DWORD actual = 0xDEADBEEF;
        EXPECT_EQ(device->GetRenderState(state, &actual), D3D_OK);
        EXPECT_EQ(actual, value) << "state " << state;
    }
    for (D3DTRANSFORMSTATETYPE slot : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION}) {
        D3DMATRIX m{};
        ASSERT_EQ(device->GetTransform(slot, &m), D3D_OK);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                EXPECT_EQ(m.m[i][j], i == j ? 1.0f : 0.0f);
            }
        }
    }
}

TEST(RasterDeviceState, WithoutAutomaticDepthZEnableStartsFalse) {
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = ViewerParameters();
    p.EnableAutoDepthStencil = FALSE;
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device),
              D3D_OK);
    DWORD zenable = 7;
    device->GetRenderState(D3DRS_ZENABLE, &zenable);
    EXPECT_EQ(zenable, static_cast<DWORD>(D3DZB_FALSE));
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    device->Release();
    direct3d->Release();
}

TEST(RasterDeviceState, EveryRenderStateIsKeptAndReadBack) {
    TestDevice device(16, 16);
    for (DWORD state = 0; state < 256; ++state) {
        ASSERT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), state * 7919u + 1), D3D_OK);
    }
    for (DWORD state = 0; state < 256; ++state) {
        DWORD value = 0;
        device->GetRenderState(static_cast<D3DRENDERSTATETYPE>(state), &value);
        EXPECT_EQ(value, state * 7919u + 1);
    }
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(256), 0), D3DERR_INVALIDCALL);
    D3DMATRIX m{};
    m.m[3][1] = 42;
    EXPECT_EQ(device->SetTransform(D3DTS_WORLDMATRIX(3), &m), D3D_OK);
    D3DMATRIX back{};
    device->GetTransform(D3DTS_WORLDMATRIX(3), &back);
    EXPECT_EQ(back.m[3][1], 42.0f);
    EXPECT_EQ(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(1), &m), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL);
}

// >>frame

TEST(RasterDeviceFrame, SceneBracketsMustNest) {
    TestDevice device(16, 16);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);  // no presenter: nothing happens
}

TEST(RasterDeviceFrame, DrawingNeedsASceneAStreamAndAMatchingStride) {
    TestDevice device(16, 16);
    const std::vector<Vertex> triangle = {AtScreen(16, 16, 0, 0, 0xFFFFFF), AtScreen(16, 16, 16, 0, 0xFFFFFF),
                                          AtScreen(16, 16, 0, 16, 0xFFFFFF)};
    device->SetFVF(kVertexFvf);
    EXPECT_EQ(device.Draw(D3DPT_TRIANGLELIST, triangle), D3DERR_INVALIDCALL);  // outside a scene
    device->BeginScene();
    device->SetFVF(D3DFVF_XYZ);  // 12-byte vertices, stream stride 16
    EXPECT_EQ(device.Draw(D3DPT_TRIANGLELIST, triangle), D3DERR_INVALIDCALL);
    device->SetFVF(kVertexFvf);
    EXPECT_EQ(device.Draw(D3DPT_TRIANGLELIST, triangle), D3D_OK);
    device->SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    device->EndScene();
    EXPECT_EQ(CountColor(device.Read(), kWhite), 136);  // 16 + 15 + ... + 1: one draw only
}

TEST(RasterDeviceFrame, ClearTargetDepthAndRectangles) {
    TestDevice device(16, 16);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030u, 0.25f, 0);
    const D3DRECT rects[] = {{2, 3, 6, 5}, {14, 14, 40, 40}};  // the second is clipped to the target
    EXPECT_EQ(device->Clear(2, rects, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0), D3D_OK);
    const Picture picture = device.Read();
    EXPECT_EQ(CountColor(picture, kWhite), 4 * 2 + 2 * 2);
    EXPECT_EQ(picture.At(2, 3), kWhite);
    EXPECT_EQ(picture.At(5, 4), kWhite);
    EXPECT_EQ(picture.At(6, 4), 0x102030u);
    EXPECT_EQ(picture.At(15, 15), kWhite);
    EXPECT_EQ(device->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);  // D16: no stencil

    // Depth was cleared to 0.25: a quad at 0.5 is hidden, one at 0.2 shows.
    device->BeginScene();
    device->SetFVF(kVertexFvf);
    auto quad = [](float z, D3DCOLOR color) {
        return std::vector<Vertex>{AtScreen(16, 16, 0, 0, color, z), AtScreen(16, 16, 16, 0, color, z),
                                   AtScreen(16, 16, 0, 16, color, z), AtScreen(16, 16, 16, 16, color, z)};
    };
    device.Draw(D3DPT_TRIANGLESTRIP, quad(0.5f, 0xFF0000));
    EXPECT_EQ(CountColor(device.Read(), kRed), 0);
    device.Draw(D3DPT_TRIANGLESTRIP, quad(0.2f, 0x0000FF));
    EXPECT_EQ(CountColor(device.Read(), 0x0000FF), 256);
    device->EndScene();
}

class RecordingPresenter final : public standin::Presenter {
public:
    void Present(HWND window, const standin::Image& backBuffer) override {
        ++frames;
        lastWindow = window;
        firstPixel = backBuffer.pixels[0] & 0xFFFFFF;
        width = backBuffer.width;
        height = backBuffer.height;
    }
    int frames = 0;
    HWND lastWindow = nullptr;
    std::uint32_t firstPixel = 0;
    int width = 0;
    int height = 0;
};

TEST(RasterDeviceFrame, PresentHandsTheBackBufferToThePresenter) {
    RecordingPresenter presenter;
    standin::SetPresenter(&presenter);
    {
        TestDevice device(20, 10);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456u, 1.0f, 0);
        EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        static int otherTag = 0;
        const HWND other = reinterpret_cast<HWND>(&otherTag);
        device->Present(nullptr, nullptr, other, nullptr);
        EXPECT_EQ(presenter.lastWindow, other);
    }
    standin::SetPresenter(nullptr);
    EXPECT_EQ(presenter.frames, 2);
    EXPECT_EQ(presenter.firstPixel, 0x123456u);
    EXPECT_EQ(presenter.width, 20);
    EXPECT_EQ(presenter.height, 10);
}

// Each frame says where it may differ from the one before; everywhere else it must not.
class ChangeRecorder final : public standin::Presenter {
public:
    void Present(HWND, const standin::Image& frame) override {
        frames.emplace_back(frame.pixels, frame.pixels + frame.width * frame.height);
        boxes.push_back(frame);
        rows.emplace_back(static_cast<std::size_t>(frame.height), std::pair{0, -1});  // the columns named of each row
        for (int y = frame.changedTop; y <= frame.changedBottom; ++y) {
            const bool known = frame.changedFirst != nullptr && frame.changedLast != nullptr;
            rows.back()[y] = {std::max(frame.changedLeft, known ? frame.changedFirst[y] : 0),
                              std::min(frame.changedRight, known ? frame.changedLast[y] : frame.width)};
        }
    }
    std::vector<std::vector<std::uint32_t>> frames;
    std::vector<standin::Image> boxes;
    std::vector<std::vector<std::pair<int, int>>> rows;
};

TEST(RasterDeviceFrame, PresentNamesWhereTheFrameChangedAndNothingElseDid) {
    ChangeRecorder recorder;
    standin::SetPresenter(&recorder);
    {
        TestDevice device(32, 32);
        auto square = [](float left, float top, D3DCOLOR color) {
            return std::vector<Vertex>{AtScreen(32, 32, left, top, color), AtScreen(32, 32, left + 6, top, color),
                                       AtScreen(32, 32, left, top + 6, color),
                                       AtScreen(32, 32, left + 6, top + 6, color)};
        };
        // The clear colour and the squares' corners; the last frame's two squares share no row.
        const std::vector<std::pair<D3DCOLOR, std::vector<std::pair<float, float>>>> frames = {
            {0xFF000000u, {{2, 4}}},  {0xFF000000u, {{20, 4}}}, {0xFF000000u, {{20, 4}}},
            {0xFF000080u, {{20, 4}}}, {0xFF000080u, {}},        {0xFF000080u, {{2, 4}, {20, 20}}}};
        for (const auto& [clear, corners] : frames) {
            device.BeginFrame(clear);
            for (const auto& [left, top] : corners) {
                device.Draw(D3DPT_TRIANGLESTRIP, square(left, top, 0xFFFFFF));
            }
            device.EndFrame();
            device->Present(nullptr, nullptr, nullptr, nullptr);
        }
    }
    standin::SetPresenter(nullptr);
    ASSERT_EQ(recorder.frames.size(), 6u);
    EXPECT_FALSE(recorder.boxes[0].changedKnown);
    for (std::size_t f = 1; f < recorder.frames.size(); ++f) {
        const standin::Image& box = recorder.boxes[f];
        ASSERT_TRUE(box.changedKnown) << f;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool inside = x >= box.changedLeft && x <= box.changedRight && y >= box.changedTop &&
                                    y <= box.changedBottom && x >= recorder.rows[f][y].first &&
                                    x <= recorder.rows[f][y].second;
                if (!inside) {
                    ASSERT_EQ(recorder.frames[f][y * 32 + x], recorder.frames[f - 1][y * 32 + x])
                        << "frame " << f << " changed " << x << ", " << y << " outside what it names";
                }
            }
        }
    }
    // The square moved: the box holds both places and little else. A new clear colour changed
    // everything. Two squares far apart name little more than their own rows' columns.
    EXPECT_LE((recorder.boxes[1].changedRight - recorder.boxes[1].changedLeft + 1) *
                  (recorder.boxes[1].changedBottom - recorder.boxes[1].changedTop + 1),
              32 * 12);
    EXPECT_EQ(recorder.boxes[3].changedRight - recorder.boxes[3].changedLeft + 1, 32);
    EXPECT_EQ(recorder.boxes[3].changedBottom - recorder.boxes[3].changedTop + 1, 32);
    long long named = 0;
    for (const auto& [first, last] : recorder.rows[5]) {
        named += std::max(0LL, static_cast<long long>(last) - first + 1);
    }
    EXPECT_LE(named, 2 * 10 * 10);
}

// The device on two threads: the same colour and depth as on one, through more triangles
// than its queue holds, Gouraud and flat, and each thing that must wait for the triangles
// queued before it (a primitive on the per-fragment path, a line, a Clear of a rectangle):
// each comes right after a few large triangles at its own depth (after the end of a scene has
// emptied the queue, too few for the worker to be handed them), so that it shows when it
// overtakes them. Small triangles, which the drawing thread may fill itself, alternate with
// larger ones at one depth, where the later one wins.
TEST(RasterDeviceFrame, TwoThreadsDrawTheSamePixelsAsOne) {
#if defined(ANEMOMETER_TESTS_ONE_THREAD)
    GTEST_SKIP() << "one thread under an emulator (see CMakeLists.txt)";
#endif
    constexpr int kWidth = 160, kHeight = 120;
    auto triangles = [](int count, int seed, float size, bool sameDepth) {
        std::vector<Vertex> vertices;
        for (int i = 0; i < count; ++i) {
            const auto x = static_cast<float>((i * 37 + seed) % 150);
            const auto y = static_cast<float>((i * 53 + seed) % 110);
            const float z = sameDepth ? 0.25f : static_cast<float>((i * 7 + seed) % 100) / 100.0f;
            const D3DCOLOR color = 0xFF000000u | (static_cast<std::uint32_t>(i + seed) * 2654435761u >> 8);
            vertices.insert(vertices.end(), {AtScreen(kWidth, kHeight, x - size, y - size, color, z),
                                             AtScreen(kWidth, kHeight, x + size, y + 1.25f, ~color, z),
                                             AtScreen(kWidth, kHeight, x + 2.75f, y + size, color ^ 0xFF00u, z)});
        }
        return vertices;
    };
    // The pictures after each of them, and the depth at the end.
    auto draw = [&](int threads) {
        standin::SetRasterThreads(threads);
        TestDevice device(kWidth, kHeight);
        std::vector<Picture> pictures;
        device.BeginFrame(0xFF204060u);
        device.Draw(D3DPT_TRIANGLELIST, triangles(5000, 0, 9, false));
        device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
        device.Draw(D3DPT_TRIANGLELIST, triangles(300, 5, 9, false));
        pictures.push_back(device.Read());
        device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        const std::vector<Vertex> large = triangles(2000, 11, 9, true), small = triangles(2000, 12, 2.5f, true);
        std::vector<Vertex> mixed;
        for (std::size_t k = 0; k < large.size(); k += 3) {
            mixed.insert(mixed.end(), large.begin() + static_cast<std::ptrdiff_t>(k),
                         large.begin() + static_cast<std::ptrdiff_t>(k + 3));
            mixed.insert(mixed.end(), small.begin() + static_cast<std::ptrdiff_t>(k),
                         small.begin() + static_cast<std::ptrdiff_t>(k + 3));
        }
        device.Draw(D3DPT_TRIANGLELIST, mixed);
        pictures.push_back(device.Read());
        auto fewLarge = [&](int seed) {
            device->EndScene();
            device->BeginScene();
            device.Draw(D3DPT_TRIANGLELIST, triangles(6, seed, 80, true));
        };
        fewLarge(1);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0x3);  // red and green: per fragment
        device.Draw(D3DPT_TRIANGLELIST, triangles(6, 2, 60, true));
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        pictures.push_back(device.Read());
        fewLarge(3);
        device.Draw(D3DPT_LINELIST, triangles(40, 4, 60, true), 60);
        pictures.push_back(device.Read());
        fewLarge(5);
        const D3DRECT rect{30, 20, 90, 70};
        device->Clear(1, &rect, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00u, 0.5f, 0);
        device.EndFrame();
        pictures.push_back(device.Read());
        const standin::DepthImage depth = standin::DepthBuffer(device.get());
        return std::pair{pictures, std::vector<std::uint16_t>(depth.values, depth.values + kWidth * kHeight)};
    };
    const auto one = draw(1);
    const auto two = draw(2);
    standin::SetRasterThreads(0);
    const char* steps[] = {"many triangles", "small and large triangles", "per-fragment primitive", "lines",
                           "rectangle clear"};
    ASSERT_EQ(two.first.size(), one.first.size());
    for (std::size_t k = 0; k < one.first.size(); ++k) {
        EXPECT_TRUE(SamePicture(two.first[k], one.first[k], "two-threads")) << "after the " << steps[k];
    }
    EXPECT_TRUE(two.second == one.second) << "the depth buffers differ";
}

// >>reference counts

TEST(RasterReferenceCounts, DeviceKeepsItsDirect3DObjectAndBuffersKeepTheDevice) {
    LeakCheck leaks;
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = ViewerParameters();
    IDirect3DDevice9* device = nullptr;
    direct3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device);
    EXPECT_EQ(direct3d->AddRef(), 3u);  // ours, the device's, this one
    EXPECT_EQ(direct3d->Release(), 2u);

    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(48, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    EXPECT_EQ(device->AddRef(), 3u);  // ours, the buffer's, this one
    EXPECT_EQ(device->Release(), 2u);
    // Binding holds the buffer privately: public counts do not move.
    device->SetStreamSource(0, buffer, 0, 16);
    EXPECT_EQ(buffer->AddRef(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(standin::LiveVertexBuffers(), 1);  // still bound
    EXPECT_EQ(device->AddRef(), 2u);             // the buffer let go of the device
    EXPECT_EQ(device->Release(), 1u);

    // Releasing the Direct3D object first leaves it alive for the device.
    EXPECT_EQ(direct3d->Release(), 1u);
    EXPECT_EQ(device->Release(), 0u);
}

TEST(RasterReferenceCounts, ABufferReleasedWhileBoundStillDraws) {
    LeakCheck leaks;
    TestDevice device(16, 16);
    IDirect3DVertexBuffer9* buffer = nullptr;
    device->CreateVertexBuffer(48, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    const Vertex triangle[] = {AtScreen(16, 16, 0, 0, 0xFFFFFF), AtScreen(16, 16, 16, 0, 0xFFFFFF),
                               AtScreen(16, 16, 0, 16, 0xFFFFFF)};
    std::memcpy(data, triangle, sizeof triangle);
    buffer->Unlock();
    device->SetStreamSource(0, buffer, 0, 16);
    buffer->Release();
    device.BeginFrame();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    device.EndFrame();
    EXPECT_EQ(CountColor(device.Read(), kWhite), 136);
    device->SetStreamSource(0, nullptr, 0, 0);  // the last hold: the buffer goes now
}

// Also on a thread of its own, which ends with the buffers' memory given back (the sanitizer
// stage's leak check sees it).
TEST(RasterReferenceCounts, ThousandsOfDrawsLeaveNothingBehind) {
    const auto frames = [] {
        const int buffersBefore = standin::LiveVertexBuffers();
        const int devicesBefore = standin::LiveDevices();
        {
            TestDevice device(32, 32);
            std::uint64_t allocationsAfterFirstFrame = 0;
            for (int frame = 0; frame < 50; ++frame) {
                if (frame == 1) {
                    allocationsAfterFirstFrame = standin::VertexStorageAllocations(device.get());
                }
                device.BeginFrame();
                for (int draw = 0; draw < 100; ++draw) {
                    const auto offset = static_cast<float>(draw % 20);
                    device.Draw(D3DPT_TRIANGLEFAN,
                                {AtScreen(32, 32, offset, 0, 0xFFFFFF), AtScreen(32, 32, offset + 10, 0, 0xFF0000),
                                 AtScreen(32, 32, offset + 10, 10, 0xFFFFFF), AtScreen(32, 32, offset, 10, 0xFF0000)});
                    // The viewer's pattern: only the buffer bound last is still alive.
                    EXPECT_LE(standin::LiveVertexBuffers(), buffersBefore + 1);
                }
                device.EndFrame();
                device->Present(nullptr, nullptr, nullptr, nullptr);
            }
            EXPECT_EQ(standin::LiveDevices(), devicesBefore + 1);
            // In steady state every buffer's memory is a released one's.
            EXPECT_GT(allocationsAfterFirstFrame, 0u);
            EXPECT_EQ(standin::VertexStorageAllocations(device.get()), allocationsAfterFirstFrame);
        }
        EXPECT_EQ(standin::LiveVertexBuffers(), buffersBefore);
        EXPECT_EQ(standin::LiveDevices(), devicesBefore);
    };
    frames();
#if !defined(ANEMOMETER_TESTS_ONE_THREAD)  // under an emulator that cannot start a thread
    std::thread(frames).join();
#endif
}

// A buffer made from a released buffer's memory starts zeroed and has its own length; a longer
// one than any released gets memory of its own.
TEST(RasterReferenceCounts, RecycledVertexMemoryStartsClean) {
    LeakCheck leaks;
    TestDevice device(16, 16);
    auto make = [&device](UINT length) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        EXPECT_EQ(device->CreateVertexBuffer(length, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
        return buffer;
    };
    IDirect3DVertexBuffer9* first = make(64);
    void* data = nullptr;
    ASSERT_EQ(first->Lock(0, 0, &data, 0), D3D_OK);
    std::memset(data, 0xAB, 64);
    first->Unlock();
    first->Release();
    const std::uint64_t allocations = standin::VertexStorageAllocations(device.get());
    IDirect3DVertexBuffer9* second = make(48);
    EXPECT_EQ(standin::VertexStorageAllocations(device.get()), allocations);  // the first one's memory
    ASSERT_EQ(second->Lock(0, 0, &data, 0), D3D_OK);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (int k = 0; k < 48; ++k) {
        EXPECT_EQ(bytes[k], 0) << k;
    }
    second->Unlock();
    EXPECT_EQ(second->Lock(48, 16, &data, 0), D3DERR_INVALIDCALL);  // its own length, not the first's
    IDirect3DVertexBuffer9* third = make(4096);
    EXPECT_EQ(standin::VertexStorageAllocations(device.get()), allocations + 1);
    third->Release();
    second->Release();
}

TEST(RasterReferenceCounts, LocksNestAndRefuseOutOfRange) {
    LeakCheck leaks;
    TestDevice device(16, 16);
    IDirect3DVertexBuffer9* buffer = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(0, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(8, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(48, 0, kVertexFvf, D3DPOOL_SCRATCH, &buffer, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer, nullptr);
    ASSERT_EQ(device->CreateVertexBuffer(40, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    void* whole = nullptr;
    void* part = nullptr;
    EXPECT_EQ(buffer->Lock(0, 0, &whole, 0), D3D_OK);
    EXPECT_EQ(buffer->Lock(16, 8, &part, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::uint8_t*>(part) - static_cast<std::uint8_t*>(whole), 16);
    EXPECT_EQ(buffer->Lock(32, 16, &part, 0), D3DERR_INVALIDCALL);  // past the end
    device->SetStreamSource(0, buffer, 0, 16);
    device.BeginFrame();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // still locked
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    device.EndFrame();
    buffer->Release();
}

}  // namespace
}  // namespace rastertest
