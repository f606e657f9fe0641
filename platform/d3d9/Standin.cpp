// What the software Direct3D 9 offers beyond Direct3D 9: the presenter hook, back-buffer
// read-back, live object counts and the bilinear stretch presenters use.
#include "platform/d3d9/Standin.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "platform/d3d9/Device.h"

namespace standin {

namespace {

std::atomic<Presenter*> gPresenter{nullptr};
std::atomic<int> gLiveDevices{0};
std::atomic<int> gLiveVertexBuffers{0};

// Where destination pixel `d` samples the source: centres map onto centres, so
// u = (d + 1/2) * srcSize / dstSize - 1/2, clamped to the first and last source pixel.
struct Tap {
    int first = 0;
    int second = 0;
    double weight = 0;  // of `second`
};

Tap SampleTap(int d, int srcSize, int dstSize) {
    double u = (static_cast<double>(d) + 0.5) * static_cast<double>(srcSize) / static_cast<double>(dstSize) - 0.5;
    u = std::clamp(u, 0.0, static_cast<double>(srcSize - 1));
    Tap tap;
    tap.first = static_cast<int>(std::floor(u));
    tap.second = std::min(tap.first + 1, srcSize - 1);
    tap.weight = u - static_cast<double>(tap.first);
    return tap;
}

double Channel(std::uint32_t pixel, int shift) {
    return static_cast<double>((pixel >> shift) & 0xFFu);
}

}  // namespace

void CountDevice(int delta) {
    gLiveDevices += delta;
}

void CountVertexBuffer(int delta) {
    gLiveVertexBuffers += delta;
}

void PresentToWindow(HWND window, const Image& backBuffer) {
    if (Presenter* presenter = gPresenter.load()) {
        presenter->Present(window, backBuffer);
    }
}

void SetPresenter(Presenter* presenter) {
    gPresenter = presenter;
}

Image BackBuffer(IDirect3DDevice9* device) {
    const auto* software = dynamic_cast<const Device*>(device);
    if (software == nullptr) {
        return {};
    }
    return {software->BackBufferPixels().data(), software->Width(), software->Height()};
}

int LiveVertexBuffers() {
    return gLiveVertexBuffers;
}

int LiveDevices() {
    return gLiveDevices;
}

void StretchBilinear(const Image& src, std::uint32_t* dst, int dstWidth, int dstHeight) {
    if (src.pixels == nullptr || src.width <= 0 || src.height <= 0 || dst == nullptr || dstWidth <= 0 ||
        dstHeight <= 0) {
        return;
    }
    std::vector<Tap> columns(static_cast<std::size_t>(dstWidth));
    for (int x = 0; x < dstWidth; ++x) {
        columns[static_cast<std::size_t>(x)] = SampleTap(x, src.width, dstWidth);
    }
    const auto sourceRow = [&src](int y) {
        return src.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(src.width);
    };
    for (int y = 0; y < dstHeight; ++y) {
        const Tap row = SampleTap(y, src.height, dstHeight);
        const std::uint32_t* upper = sourceRow(row.first);
        const std::uint32_t* lower = sourceRow(row.second);
        std::uint32_t* out = dst + static_cast<std::size_t>(y) * static_cast<std::size_t>(dstWidth);
        for (const Tap& column : columns) {
            const std::uint32_t p00 = upper[column.first];
            const std::uint32_t p10 = upper[column.second];
            const std::uint32_t p01 = lower[column.first];
            const std::uint32_t p11 = lower[column.second];
            std::uint32_t pixel = 0xFF000000u;
            for (int shift = 0; shift <= 16; shift += 8) {
                const double top = Channel(p00, shift) + (Channel(p10, shift) - Channel(p00, shift)) * column.weight;
                const double bottom = Channel(p01, shift) + (Channel(p11, shift) - Channel(p01, shift)) * column.weight;
                const double value = top + (bottom - top) * row.weight;
                pixel |= static_cast<std::uint32_t>(value + 0.5) << shift;
            }
            *out++ = pixel;
        }
    }
}

}  // namespace standin
