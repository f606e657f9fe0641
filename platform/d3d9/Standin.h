// What the software Direct3D 9 offers beyond Direct3D 9 itself: where Present sends finished
// frames, and read-back and bookkeeping for tests and tools. Nothing in the viewer's portable
// code (app, scene, geometry, device) uses this header; the platform start-up, tools and tests do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3d9/D3D9.h"

namespace standin {

// A finished X8R8G8B8 image: width * height pixels, rows top to bottom, no padding.
struct Image {
    const std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    // For a presented frame, where it may differ from the frame presented before it by the same
    // device: the pixels changedLeft .. changedRight of the rows changedTop .. changedBottom
    // (inclusive; none when changedRight < changedLeft). Unknown (the whole image may differ)
    // unless changedKnown.
    bool changedKnown = false;
    int changedLeft = 0, changedTop = 0, changedRight = -1, changedBottom = -1;
    // Where the frame says so, more closely: of each row y of the box, only the columns
    // changedFirst[y] .. changedLast[y] (within the box's; none when last < first) may differ.
    // Null when only the box is known.
    const int* changedFirst = nullptr;
    const int* changedLast = nullptr;
};

// Receives every presented frame. The window stand-in installs one that shows the frame in the
// device window (stretched to its client area, waiting for the display's refresh); tests and
// tools install none or their own.
class Presenter {
public:
    virtual ~Presenter() = default;
    virtual void Present(HWND window, const Image& backBuffer) = 0;
};

// Process-wide; null (the default) means Present only finishes the frame in the device.
void SetPresenter(Presenter* presenter);

// The device's back buffer as it stands now (valid until the device's next call).
Image BackBuffer(IDirect3DDevice9* device);

// The device's D16 depth buffer as it stands now: width * height values, rows top to bottom,
// valid until the device's next call. Null pixels when the device has no depth buffer.
struct DepthImage {
    const std::uint16_t* values = nullptr;
    int width = 0;
    int height = 0;
};
DepthImage DepthBuffer(IDirect3DDevice9* device);

// The software device fills triangles with kernels built for the widest vector unit the
// processor has, or with portable ones; every set gives the same bits. The sets this processor
// can run, the portable one first and the widest last: "portable", and on x86-64 "avx2" (AVX2
// with FMA) and "avx512" (AVX2 and FMA with AVX-512 F, VL, BW and DQ, on the same 256-bit
// vectors) where the processor offers them.
std::vector<std::string> RasterKernelSets();
// Chooses a set by name for the whole process, or the widest (the default) for an empty name.
// Returns false, changing nothing, for a set this processor does not offer.
bool UseRasterKernels(std::string_view name);

// The software device fills triangles on this many threads, 1 or 2 (others are taken as the
// nearer). With 2, each device has a worker of its own that fills the scene's triangles while
// the drawing thread goes on with the scene, and both fill what is left in bands of rows at
// its end (or before anything else touches the buffers); the pixels are the same either way.
// A frame then comes sooner but costs more CPU time in all (the worker also waits for work,
// yielding, for 2 ms before it sleeps), which a program paced by the display does not gain
// from, so 1 is the default (0 restores it). Returns the number now in force; a draw takes
// the number in force when it starts.
int SetRasterThreads(int threads);

// How many times the device took memory for a vertex buffer from the heap instead of reusing
// the memory of a released one (0 for a device that is not the software one).
std::uint64_t VertexStorageAllocations(IDirect3DDevice9* device);

// Live object counts, for leak tests.
int LiveVertexBuffers();
int LiveDevices();

// Scales `src` into the dstWidth x dstHeight pixels at `dst` (rows top to bottom, no padding)
// with a bilinear filter, pixel centres mapped onto pixel centres and edges clamped; what a
// presenter does when the client area differs from the back buffer. Every channel is rounded
// to nearest (worked out in fixed point: weights in 65536ths, so a mix within a hundredth of a
// level of a half may round either way); the X byte of the result is 0xFF. An empty source or
// destination writes nothing.
void StretchBilinear(const Image& src, std::uint32_t* dst, int dstWidth, int dstHeight);

}  // namespace standin
