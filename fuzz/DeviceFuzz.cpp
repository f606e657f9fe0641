// The software Direct3D 9 device driven by a random sequence of calls: render states with any
// value, transforms full of NaN, infinities and 1e38, vertex data of any bytes, draws past the
// buffer's end, clears with odd rectangles, small back buffers, and the bilinear stretch a
// presenter does into any size down to nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/d3d9/Standin.h"

namespace {

float SomeFloat(FuzzedDataProvider& data) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    const float kSpecial[] = {0.0f,       1.0f,  -1.0f,  0.5f,   kNaN, kInfinity,
                              -kInfinity, 1e38f, -1e38f, 1e-38f, 2.0f, 100.0f};
    if (data.ConsumeBool()) {
        return data.PickValueInArray(kSpecial);
    }
    return data.ConsumeFloatingPoint<float>();
}

class Collector final : public standin::Presenter {
public:
    void Present(HWND, const standin::Image& image) override {
        pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        standin::StretchBilinear(image, pixels.data(), width, height);
    }
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = data.ConsumeIntegralInRange<UINT>(0, 96);
    parameters.BackBufferHeight = data.ConsumeIntegralInRange<UINT>(0, 72);
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = reinterpret_cast<HWND>(std::uintptr_t{0x1000});
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = data.ConsumeBool() ? TRUE : FALSE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice9* device = nullptr;
    if (FAILED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, parameters.hDeviceWindow,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device))) {
        direct3d->Release();
        return 0;
    }
    Collector presenter;
    presenter.width = data.ConsumeIntegralInRange<int>(0, 64);
    presenter.height = data.ConsumeIntegralInRange<int>(0, 64);
    standin::SetPresenter(&presenter);
    standin::SetRasterThreads(data.ConsumeBool() ? 2 : 1);

    std::vector<IDirect3DVertexBuffer9*> buffers;
    for (int step = 0; step < 64 && data.remaining_bytes() > 0; ++step) {
        switch (data.ConsumeIntegralInRange<int>(0, 11)) {
            case 0:
                device->SetRenderState(
                    static_cast<D3DRENDERSTATETYPE>(data.ConsumeIntegralInRange<int>(0, 260)),
                    data.ConsumeBool() ? data.ConsumeIntegralInRange<DWORD>(0, 4) : data.ConsumeIntegral<DWORD>());
                break;
            case 1: {
                D3DMATRIX matrix;
                for (auto& row : matrix.m) {
                    for (float& value : row) {
                        value = SomeFloat(data);
                    }
                }
                const D3DTRANSFORMSTATETYPE kStates[] = {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_WORLD,
                                                         static_cast<D3DTRANSFORMSTATETYPE>(17)};
                device->SetTransform(data.PickValueInArray(kStates), &matrix);
                break;
            }
            case 2: {
                IDirect3DVertexBuffer9* buffer = nullptr;
                const UINT length = data.ConsumeIntegralInRange<UINT>(0, 4096);
                if (SUCCEEDED(device->CreateVertexBuffer(length, 0,
                                                         data.ConsumeBool() ? 0x42u : data.ConsumeIntegral<DWORD>(),
                                                         D3DPOOL_MANAGED, &buffer, nullptr))) {
                    buffers.push_back(buffer);
                }
                break;
            }
            case 3: {
                if (buffers.empty()) {
                    break;
                }
                IDirect3DVertexBuffer9* buffer =
                    buffers[data.ConsumeIntegralInRange<std::size_t>(0, buffers.size() - 1)];
                const UINT offset = data.ConsumeIntegralInRange<UINT>(0, 4096);
                const UINT lockSize = data.ConsumeIntegralInRange<UINT>(0, 4096);
                void* memory = nullptr;
                if (SUCCEEDED(buffer->Lock(offset, lockSize, &memory, 0)) && memory != nullptr) {
                    // Vertices of special floats and any colour, as much as the lock holds.
                    auto* target = static_cast<std::uint8_t*>(memory);
                    const UINT count = lockSize / 4;
                    for (UINT i = 0; i < count && data.remaining_bytes() > 0; ++i) {
                        const float value = SomeFloat(data);
                        std::memcpy(target + 4 * i, &value, 4);
                    }
                    buffer->Unlock();
                }
                break;
            }
            case 4: {
                IDirect3DVertexBuffer9* buffer =
                    buffers.empty() || data.ConsumeBool()
                        ? nullptr
                        : buffers[data.ConsumeIntegralInRange<std::size_t>(0, buffers.size() - 1)];
                device->SetStreamSource(data.ConsumeIntegralInRange<UINT>(0, 2), buffer,
                                        data.ConsumeIntegralInRange<UINT>(0, 64),
                                        data.ConsumeBool() ? 16 : data.ConsumeIntegralInRange<UINT>(0, 64));
                break;
            }
            case 5:
                device->DrawPrimitive(
                    static_cast<D3DPRIMITIVETYPE>(data.ConsumeIntegralInRange<int>(0, 7)),
                    data.ConsumeBool() ? 0 : data.ConsumeIntegral<UINT>(),
                    data.ConsumeBool() ? data.ConsumeIntegralInRange<UINT>(0, 300) : data.ConsumeIntegral<UINT>());
                break;
            case 6: {
                std::vector<D3DRECT> rects(data.ConsumeIntegralInRange<std::size_t>(0, 4));
                for (D3DRECT& rect : rects) {
                    rect = {data.ConsumeIntegral<LONG>(), data.ConsumeIntegral<LONG>(),
                            data.ConsumeIntegralInRange<LONG>(-8, 200), data.ConsumeIntegralInRange<LONG>(-8, 200)};
                }
                device->Clear(static_cast<DWORD>(rects.size()), rects.empty() ? nullptr : rects.data(),
                              data.ConsumeIntegralInRange<DWORD>(0, 7), data.ConsumeIntegral<DWORD>(), SomeFloat(data),
                              0);
                break;
            }
            case 7:
                device->BeginScene();
                break;
            case 8:
                device->EndScene();
                break;
            case 9:
                device->Present(nullptr, nullptr, nullptr, nullptr);
                break;
            case 10:
                device->SetFVF(data.ConsumeBool() ? DWORD{0x42} : data.ConsumeIntegral<DWORD>());
                break;
            default:
                if (!buffers.empty()) {  // a buffer let go, perhaps while bound
                    const std::size_t index = data.ConsumeIntegralInRange<std::size_t>(0, buffers.size() - 1);
                    buffers[index]->Release();
                    buffers.erase(buffers.begin() + static_cast<std::ptrdiff_t>(index));
                }
                break;
        }
    }
    standin::SetPresenter(nullptr);
    for (IDirect3DVertexBuffer9* buffer : buffers) {
        buffer->Release();
    }
    device->Release();
    direct3d->Release();
    if (standin::LiveVertexBuffers() != 0 || standin::LiveDevices() != 0) {
        __builtin_trap();  // something outlived its last reference
    }
    return 0;
}
