// The software Direct3D 9 objects: the Direct3D object, the device and the vertex buffer.
//
// Reference counts work as in the runtime: each object starts with one public reference; a
// device holds a reference on the Direct3D object that made it, and every vertex buffer with a
// public reference holds one on its device. A buffer bound with SetStreamSource is held by the
// device through a private reference that does not show in AddRef/Release counts; a buffer
// whose last public reference is released while it is bound lives on, still drawable, until it
// is unbound or the device goes.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/Pipeline.h"
#include "platform/d3d9/Standin.h"

namespace standin {

class Device;

using RenderStateTable = std::array<DWORD, 256>;
void SetDefaultRenderStates(RenderStateTable* states, bool autoDepthStencil);

class Direct3D final : public IDirect3D9 {
public:
    Direct3D();
    Direct3D(const Direct3D&) = delete;
    Direct3D& operator=(const Direct3D&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                                           D3DPRESENT_PARAMETERS* presentationParameters,
                                           IDirect3DDevice9** returnedDevice) override;

private:
    ~Direct3D() override = default;
    ULONG references_ = 1;
};

class VertexBuffer final : public IDirect3DVertexBuffer9 {
public:
    // The buffer takes a reference on `device`; `bytes` is zero-filled memory it owns and hands
    // back to the device when it goes.
    VertexBuffer(Device* device, std::vector<std::uint8_t> bytes);

    // Buffer objects are recycled: a program that makes a buffer per draw, as the viewer does,
    // reuses the memory of the ones it released.
    static void* operator new(std::size_t size);
    static void operator delete(void* memory);
    VertexBuffer(const VertexBuffer&) = delete;
    VertexBuffer& operator=(const VertexBuffer&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Unlock() override;

    // The device's hold while the buffer is bound as a stream source.
    void AddPrivateReference();
    void ReleasePrivateReference();

    Device* Owner() const { return device_; }
    bool IsLocked() const { return locks_ > 0; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    ~VertexBuffer() override;

    Device* device_;
    std::vector<std::uint8_t> bytes_;
    ULONG publicReferences_ = 1;
    ULONG privateReferences_ = 0;
    UINT locks_ = 0;
};

class Device final : public IDirect3DDevice9 {
public:
    // Buffers are sized from the already validated presentation parameters.
    Device(Direct3D* direct3d, HWND focusWindow, const D3DPRESENT_PARAMETERS& parameters,
           std::vector<std::uint32_t> colorBuffer, std::vector<std::uint16_t> depthBuffer);
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override;
    HRESULT STDMETHODCALLTYPE BeginScene() override;
    HRESULT STDMETHODCALLTYPE EndScene() override;
    HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                      const RGNDATA* dirtyRegion) override;
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override;
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override;
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                                              UINT stride) override;
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex,
                                            UINT primitiveCount) override;

    // Fills what is still queued for the raster kernels, so that the buffers hold every draw.
    void FinishDrawing() const;
    // The back buffer as X8R8G8B8 pixels, rows top to bottom (after FinishDrawing).
    const std::vector<std::uint32_t>& BackBufferPixels() const { return color_; }
    // Memory for vertex buffers: zero-filled storage of `length` bytes, from the storage of
    // released buffers when one is large enough. Storage comes back through ReturnVertexStorage.
    std::vector<std::uint8_t> TakeVertexStorage(UINT length);
    void ReturnVertexStorage(std::vector<std::uint8_t> bytes);
    // How often vertex storage had to be taken from the heap instead of recycled.
    std::uint64_t VertexStorageAllocations() const { return storageAllocations_; }

    // The D16 depth buffer, same size; empty without an automatic depth buffer.
    const std::vector<std::uint16_t>& DepthValues() const { return depth_; }
    int Width() const { return static_cast<int>(parameters_.BackBufferWidth); }
    int Height() const { return static_cast<int>(parameters_.BackBufferHeight); }

private:
    ~Device() override;

    static constexpr UINT kMaxStreams = 16;
    static constexpr int kTransformSlots = 512;  // D3DTS_VIEW .. D3DTS_WORLDMATRIX(255)

    struct StreamBinding {
        VertexBuffer* buffer = nullptr;  // held through a private reference
        UINT offset = 0;
        UINT stride = 0;
    };

    static bool IsTransformSlot(D3DTRANSFORMSTATETYPE state);
    pipeline::RasterState CurrentRasterState() const;
    pipeline::RenderTarget Target();
    // Step 2 of DrawPrimitive for `count` vertices from `data`, into clipVertices_ (and, for
    // triangles, mapped_ and screenVertices_).
    void TransformAndMap(const std::uint8_t* data, std::uint32_t count, const pipeline::VertexLayout& layout,
                         D3DPRIMITIVETYPE primitiveType, const pipeline::ViewportMap& map);
    void DrawTriangle(const pipeline::ClipVertex& v0, const pipeline::ClipVertex& v1, const pipeline::ClipVertex& v2,
                      const pipeline::ViewportMap& map, const pipeline::RasterState& state,
                      pipeline::RenderTarget& target) const;
    void DrawMappedTriangle(const pipeline::TriangleIndices& triangle, const pipeline::RasterState& state,
                            pipeline::RenderTarget& target);
    static pipeline::Shading ShadingOf(const pipeline::ClipVertex& provoking, const pipeline::RasterState& state);
    void Fill(const pipeline::ClipVertex& provoking, const pipeline::RasterState& state,
              pipeline::RenderTarget& target) const;
    void DrawLine(const pipeline::ClipVertex& v0, const pipeline::ClipVertex& v1, const pipeline::ViewportMap& map,
                  const pipeline::RasterState& state, pipeline::RenderTarget& target) const;
    void DrawPoint(const pipeline::ClipVertex& v, const pipeline::ViewportMap& map, const pipeline::RasterState& state,
                   pipeline::RenderTarget& target) const;

    ULONG references_ = 1;
    Direct3D* direct3d_;
    HWND focusWindow_;
    D3DPRESENT_PARAMETERS parameters_;
    std::vector<std::uint32_t> color_;
    std::vector<std::uint16_t> depth_;  // empty without an automatic depth buffer
    // Triangles waiting for the kernels when they are filled on two threads; made when first
    // needed, and gone (filled) before the buffers above.
    mutable std::unique_ptr<pipeline::RasterQueue> queue_;
    D3DVIEWPORT9 viewport_;
    RenderStateTable renderStates_{};
    std::vector<D3DMATRIX> transforms_;
    DWORD fvf_ = 0;
    std::array<StreamBinding, kMaxStreams> streams_{};
    bool inScene_ = false;
    std::vector<pipeline::ClipVertex> clipVertices_;  // scratch of DrawPrimitive, kept to reuse its memory
    // Each vertex of a triangle primitive that lies inside the clip volume mapped to the screen
    // once, for every triangle that uses it (most of a strip's vertices serve three), so that a
    // triangle with all three inside skips clipping. Kept like the above.
    std::vector<pipeline::VertexPlace> mapped_;
    std::vector<pipeline::ScreenVertex> screenVertices_;
    // The same vertices' fields that triangle setup reads, by column (VertexColumns); these and
    // mapped_ have room for pipeline::kColumnSlack entries past the last vertex.
    struct Columns {
        std::vector<std::int64_t> x, y;
        std::vector<float> windowX, windowY, windowZ;
    } columns_;
    pipeline::VertexColumns ColumnsView() {
        return {columns_.x.data(), columns_.y.data(), columns_.windowX.data(), columns_.windowY.data(),
                columns_.windowZ.data()};
    }
    // Scratch of each primitive's clipping and setup, kept so that no primitive initialises its own.
    mutable pipeline::ClippedPolygon clipped_;
    mutable pipeline::ScreenPolygon screen_;
    // What a buffer is known to hold: after a Clear of the whole target, every pixel holds one
    // value except in `dirty`, the columns of each row around everything written since (each
    // draw marks the pixel box around the primitives it filled). A Clear to the same value then
    // needs to fill only those.
    struct PixelBox {
        long left = 0, top = 0, right = -1, bottom = -1;  // inclusive; empty when right < left
        bool Empty() const { return right < left || bottom < top; }
        void Add(const PixelBox& box);
    };
    class DirtyRows {
    public:
        explicit DirtyRows(int height);
        bool Empty() const { return box_.Empty(); }
        const PixelBox& Box() const { return box_; }
        // Row y's columns First()[y] .. Last()[y]; none when last < first.
        const int* First() const { return first_.data(); }
        const int* Last() const { return last_.data(); }
        void Add(const PixelBox& box);
        void Add(const DirtyRows& other);
        void Reset();

    private:
        // One per row of the target (a row with none holds INT_MAX and INT_MIN, so that adding
        // is a min and a max); only the rows of the box are used.
        std::vector<int> first_, last_;
        PixelBox box_;
    };
    struct KnownContents {
        explicit KnownContents(int height) : dirty(height) {}
        bool uniform = false;
        std::uint32_t value = 0;
        DirtyRows dirty;
    };
    void FillBox(const PixelBox& box, DWORD flags, D3DCOLOR color, std::uint16_t depth);
    void FillRows(const DirtyRows& rows, DWORD flags, D3DCOLOR color, std::uint16_t depth);
    // `count` pixels from `start` (an index into both buffers) of the buffers that `flags` name.
    void FillRun(std::size_t start, std::size_t count, DWORD flags, D3DCOLOR color, std::uint16_t depth);
    void MarkDrawn(const pipeline::ScreenPolygon& polygon) const;
    void MarkDrawn(const pipeline::ScreenVertex& vertex) const {
        pipeline::VertexBox& box = drawnVertices_;
        box.minX = std::min(box.minX, vertex.x);
        box.maxX = std::max(box.maxX, vertex.x);
        box.minY = std::min(box.minY, vertex.y);
        box.maxY = std::max(box.maxY, vertex.y);
    }
    void MarkDrawnRows();
    void FoldDrawn();
    KnownContents colorKnown_;
    KnownContents depthKnown_;
    // The box of the vertices of the current draw (every one mapped for triangles, and those of
    // the other primitives filled), in 1/256 pixel; then, in drawn_, the pixels the draws since
    // the last FoldDrawn may have written: the pixels of each draw's box.
    mutable pipeline::VertexBox drawnVertices_;
    DirtyRows drawn_;
    // What the colour buffer may have changed since the last Present; unknown before the first.
    DirtyRows changedSincePresent_;
    bool presentedBefore_ = false;
    std::vector<std::vector<std::uint8_t>> spareStorage_;  // of released vertex buffers
    std::size_t spareBytes_ = 0;
    std::uint64_t storageAllocations_ = 0;
};

// How many threads fill triangles (standin::SetRasterThreads).
int RasterThreads();

// Live object counters behind standin::LiveDevices and standin::LiveVertexBuffers.
void CountDevice(int delta);
void CountVertexBuffer(int delta);

// Hands a finished frame to the installed presenter, if any.
void PresentToWindow(HWND window, const Image& backBuffer);

}  // namespace standin
