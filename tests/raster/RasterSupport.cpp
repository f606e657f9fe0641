#include "tests/raster/RasterSupport.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "device/Device.h"
#include "platform/d3d9/Standin.h"
#include "scene/SceneState.h"

namespace rastertest {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool ReadPng(const std::string& path, Picture* picture, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_BGRA;  // little-endian 0xAARRGGBB words, as X8R8G8B8 is stored
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->pixels.assign(static_cast<std::size_t>(image.width) * image.height, 0);
    if (!png_image_finish_read(&image, nullptr, picture->pixels.data(), 0, nullptr)) {
        *error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool WritePng(const std::string& path, const Picture& picture) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint32_t> opaque(picture.pixels);
    for (std::uint32_t& pixel : opaque) {
        pixel |= 0xFF000000u;
    }
    return png_image_write_to_file(&image, path.c_str(), 0, opaque.data(), 0, nullptr) != 0;
}

namespace {

// The picture a test read last, written out as SUITE.TEST_actual.png when the test fails.
Picture& LastPictureRead() {
    static Picture picture;
    return picture;
}

class WriteLastPictureOfAFailedTest : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override {
        Picture& picture = LastPictureRead();
        if (test.result()->Failed() && !picture.pixels.empty()) {
            std::string name = std::string(test.test_suite_name()) + "." + test.name();
            for (char& c : name) {
                c = (c == '/') ? '_' : c;
            }
            WritePng(name + "_actual.png", picture);
        }
        picture = {};
    }
};

const bool kListenerInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new WriteLastPictureOfAFailedTest);
    return true;
}();

}  // namespace

HWND FakeWindow() {
    static int windowTag = 0;
    return reinterpret_cast<HWND>(&windowTag);
}

void OpenViewerDevice() {
    sceneState = {};
    InitDevice(FakeWindow());
    ASSERT_NE(sceneState.device, nullptr);
}

void CloseViewerDevice() {
    ReleaseDevice();
    sceneState = {};
    EXPECT_EQ(standin::LiveVertexBuffers(), 0);
    EXPECT_EQ(standin::LiveDevices(), 0);
}

std::string TestNameOf(std::string name) {
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

TestDevice::TestDevice(int width, int height, bool viewerStartupStates) {
    direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = static_cast<UINT>(width);
    parameters.BackBufferHeight = static_cast<UINT>(height);
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = FakeWindow();
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    EXPECT_EQ(direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, FakeWindow(),
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device_),
              D3D_OK);
    if (device_ != nullptr && viewerStartupStates) {
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
        device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    }
}

TestDevice::~TestDevice() {
    if (device_ != nullptr) {
        device_->Release();
    }
    if (direct3d_ != nullptr) {
        direct3d_->Release();
    }
}

void TestDevice::BeginFrame(D3DCOLOR clearColor) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, clearColor, 1.0f, 0);
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
    device_->BeginScene();
    device_->SetFVF(kVertexFvf);
}

HRESULT TestDevice::Draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices, long long primitiveCount) {
    if (primitiveCount < 0) {
        const auto count = static_cast<long long>(vertices.size());
        switch (type) {
            case D3DPT_POINTLIST:
                primitiveCount = count;
                break;
            case D3DPT_LINELIST:
                primitiveCount = count / 2;
                break;
            case D3DPT_LINESTRIP:
                primitiveCount = count - 1;
                break;
            case D3DPT_TRIANGLELIST:
                primitiveCount = count / 3;
                break;
            default:  // strips and fans
                primitiveCount = count - 2;
                break;
        }
    }
    const auto bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
    IDirect3DVertexBuffer9* buffer = nullptr;
    HRESULT result = device_->CreateVertexBuffer(bytes, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr);
    if (FAILED(result)) {
        return result;
    }
    void* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    device_->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    result = device_->DrawPrimitive(type, 0, static_cast<UINT>(primitiveCount));
    buffer->Release();
    return result;
}

void TestDevice::EndFrame() {
    device_->EndScene();
}

Picture TestDevice::Read() const {
    const standin::Image image = standin::BackBuffer(device_);
    Picture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.assign(image.pixels, image.pixels + static_cast<std::size_t>(image.width) * image.height);
    LastPictureRead() = picture;
    return picture;
}

namespace {

bool DiffersByOneAtMost(std::uint32_t a, std::uint32_t b) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (difference < -1 || difference > 1) {
            return false;
        }
    }
    return true;
}

}  // namespace

::testing::AssertionResult SamePicture(const Picture& actual, const Picture& expected, const std::string& name,
                                       int toleratedRoundings) {
    if (actual.width != expected.width || actual.height != expected.height) {
        return ::testing::AssertionFailure() << name << ": size " << actual.width << "x" << actual.height
                                             << ", expected " << expected.width << "x" << expected.height;
    }
    Picture diff{actual.width, actual.height, std::vector<std::uint32_t>(actual.pixels.size(), 0)};
    int differing = 0;
    int roundings = 0;
    std::ostringstream first;
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            if (actual.At(x, y) != expected.At(x, y)) {
                roundings += DiffersByOneAtMost(actual.At(x, y), expected.At(x, y)) ? 1 : 0;
                diff.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(actual.width) +
                            static_cast<std::size_t>(x)] = 0xFFFFFF;
                if (++differing <= 8) {
                    char line[96];
                    std::snprintf(line, sizeof line, "\n  (%d, %d): %06X, expected %06X", x, y, actual.At(x, y),
                                  expected.At(x, y));
                    first << line;
                }
            }
        }
    }
    if (differing == 0 || (differing == roundings && roundings <= toleratedRoundings)) {
        return ::testing::AssertionSuccess();
    }
    WritePng(name + "_actual.png", actual);
    WritePng(name + "_diff.png", diff);
    return ::testing::AssertionFailure() << name << ": " << differing << " pixels differ, " << roundings
                                         << " of them by one (" << toleratedRoundings << " tolerated; written " << name
                                         << "_actual.png and " << name << "_diff.png)" << first.str();
}

int CountColor(const Picture& picture, std::uint32_t color) {
    int count = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            count += picture.At(x, y) == color ? 1 : 0;
        }
    }
    return count;
}

}  // namespace rastertest
