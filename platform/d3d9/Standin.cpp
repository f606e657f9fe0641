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
constexpr int kDefaultRasterThreads = 1;

std::atomic<int> gRasterThreads{kDefaultRasterThreads};

// Where destination pixel `d` samples the source: centres map onto centres, so
// u = (d + 1/2) * srcSize / dstSize - 1/2, clamped to the first and last source pixel.
struct Tap {
    int first = 0;
    int second = 0;
    std::uint32_t weight = 0;  // of `second`, in 65536ths
};

Tap SampleTap(int d, int srcSize, int dstSize) {
    double u = (static_cast<double>(d) + 0.5) * static_cast<double>(srcSize) / static_cast<double>(dstSize) - 0.5;
    u = std::clamp(u, 0.0, static_cast<double>(srcSize - 1));
    Tap tap;
    tap.first = static_cast<int>(std::floor(u));
    tap.second = std::min(tap.first + 1, srcSize - 1);
    tap.weight = static_cast<std::uint32_t>(std::lround((u - static_cast<double>(tap.first)) * 65536.0));
    return tap;
}

// A pixel's red and blue in the two 32-bit halves of a word, and its green alone, so that one
// multiplication weighs two channels.
std::uint64_t RedBlue(std::uint32_t pixel) {
    return (std::uint64_t{pixel & 0xFF0000u} << 16) | (pixel & 0xFFu);
}

std::uint64_t Green(std::uint32_t pixel) {
    return (pixel >> 8) & 0xFFu;
}

// Channels of two pixels mixed, `weight` 65536ths of the second: 8.8 fixed point in each half,
// rounded, at most 255 * 256.
std::uint64_t Mix(std::uint64_t first, std::uint64_t second, std::uint32_t weight) {
    constexpr std::uint64_t kHalf = 0x0000008000000080u;
    constexpr std::uint64_t kLanes = 0x0000FFFF0000FFFFu;
    return ((first * (65536u - weight) + second * weight + kHalf) >> 8) & kLanes;
}

// Two rows' mixed channels mixed again by `weight` and rounded to whole levels (each half's
// sum stays below 2^32, as 255 * 256 * 65536 does).
std::uint64_t MixRows(std::uint64_t top, std::uint64_t bottom, std::uint32_t weight) {
    constexpr std::uint64_t kHalf = 0x0080000000800000u;
    constexpr std::uint64_t kLanes = 0x000000FF000000FFu;
    return ((top * (65536u - weight) + bottom * weight + kHalf) >> 24) & kLanes;
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
    software->FinishDrawing();
    return {software->BackBufferPixels().data(), software->Width(), software->Height()};
}

DepthImage DepthBuffer(IDirect3DDevice9* device) {
    const auto* software = dynamic_cast<const Device*>(device);
    if (software == nullptr || software->DepthValues().empty()) {
        return {};
    }
    software->FinishDrawing();
    return {software->DepthValues().data(), software->Width(), software->Height()};
}

std::uint64_t VertexStorageAllocations(IDirect3DDevice9* device) {
    const auto* software = dynamic_cast<const Device*>(device);
    return software == nullptr ? 0 : software->VertexStorageAllocations();
}

int SetRasterThreads(int threads) {
    gRasterThreads.store(threads == 0 ? kDefaultRasterThreads : std::clamp(threads, 1, 2), std::memory_order_relaxed);
    return gRasterThreads.load(std::memory_order_relaxed);
}

int RasterThreads() {
    return gRasterThreads.load(std::memory_order_relaxed);
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
    const auto width = static_cast<std::size_t>(dstWidth);
    std::vector<Tap> columns(width);
    for (std::size_t x = 0; x < width; ++x) {
        columns[x] = SampleTap(static_cast<int>(x), src.width, dstWidth);
    }
    // Source rows mixed across, one value per destination column; neighbouring destination rows
    // mostly share their source rows, so each is mixed once while it is in use.
    struct MixedRow {
        int source = -1;
        std::vector<std::uint64_t> redBlue, green;
    };
    MixedRow upper, lower;
    const auto mixAcross = [&](MixedRow& mixed, int source) {
        const std::uint32_t* row = src.pixels + static_cast<std::size_t>(source) * static_cast<std::size_t>(src.width);
        mixed.source = source;
        mixed.redBlue.resize(width);
        mixed.green.resize(width);
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t left = row[columns[x].first];
            const std::uint32_t right = row[columns[x].second];
            mixed.redBlue[x] = Mix(RedBlue(left), RedBlue(right), columns[x].weight);
            mixed.green[x] = Mix(Green(left), Green(right), columns[x].weight);
        }
    };
    for (int y = 0; y < dstHeight; ++y) {
        const Tap row = SampleTap(y, src.height, dstHeight);
        if (upper.source != row.first) {
            std::swap(upper, lower);  // the last row's lower source is usually this row's upper one
            if (upper.source != row.first) {
                mixAcross(upper, row.first);
            }
        }
        if (lower.source != row.second) {
            mixAcross(lower, row.second);
        }
        std::uint32_t* out = dst + static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint64_t redBlue = MixRows(upper.redBlue[x], lower.redBlue[x], row.weight);
            const std::uint64_t green = MixRows(upper.green[x], lower.green[x], row.weight);
            out[x] = static_cast<std::uint32_t>(0xFF000000u | (redBlue >> 16) | (green << 8) | redBlue);
        }
    }
}

}  // namespace standin
