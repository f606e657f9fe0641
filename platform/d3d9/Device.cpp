// The software device: render states, transforms, streams, Clear, the scene brackets, Present
// and DrawPrimitive, whose body is the pipeline's table of contents (stages in Pipeline.h).
#include "platform/d3d9/Device.h"

#include <algorithm>
#include <climits>
#include <new>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/RasterQueue.h"
#include "platform/d3d9/Standin.h"

namespace standin {

namespace {

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = m.m[3][3] = 1.0f;
    return m;
}

}  // namespace

Device::Device(Direct3D* direct3d, HWND focusWindow, const D3DPRESENT_PARAMETERS& parameters,
               std::vector<std::uint32_t> colorBuffer, std::vector<std::uint16_t> depthBuffer)
    : direct3d_(direct3d),
      focusWindow_(focusWindow),
      parameters_(parameters),
      color_(std::move(colorBuffer)),
      depth_(std::move(depthBuffer)),
      // The viewport covers the whole render target, depth 0..1.
      viewport_{0, 0, parameters.BackBufferWidth, parameters.BackBufferHeight, 0.0f, 1.0f},
      transforms_(kTransformSlots, Identity()),
      colorKnown_(static_cast<int>(parameters.BackBufferHeight)),
      depthKnown_(static_cast<int>(parameters.BackBufferHeight)),
      drawn_(static_cast<int>(parameters.BackBufferHeight)),
      changedSincePresent_(static_cast<int>(parameters.BackBufferHeight)) {
    direct3d_->AddRef();  // the device keeps its Direct3D object alive
    SetDefaultRenderStates(&renderStates_, parameters.EnableAutoDepthStencil != FALSE);
    CountDevice(+1);
}

Device::~Device() {
    FinishDrawing();
    for (StreamBinding& stream : streams_) {
        if (stream.buffer != nullptr) {
            stream.buffer->ReleasePrivateReference();
        }
    }
    direct3d_->Release();
    CountDevice(-1);
}

ULONG Device::AddRef() {
    return ++references_;
}

ULONG Device::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

// >>frame

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    static_cast<void>(stencil);  // D16 has no stencil bits; D3DCLEAR_STENCIL is refused below
    const DWORD known = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
    if ((count > 0 && rects == nullptr) || flags == 0 || (flags & ~known) != 0 || (flags & D3DCLEAR_STENCIL) ||
        ((flags & D3DCLEAR_ZBUFFER) && depth_.empty())) {
        return D3DERR_INVALIDCALL;
    }
    FinishDrawing();
    FoldDrawn();
    const std::uint16_t depth = pipeline::QuantizeDepth(z);
    // Rectangles are clipped to the viewport; none means the whole viewport. x2 and y2 are exclusive.
    const LONG vpLeft = static_cast<LONG>(viewport_.X);
    const LONG vpTop = static_cast<LONG>(viewport_.Y);
    const LONG vpRight = static_cast<LONG>(viewport_.X + viewport_.Width);
    const LONG vpBottom = static_cast<LONG>(viewport_.Y + viewport_.Height);
    const bool wholeTarget = count == 0 && vpLeft == 0 && vpTop == 0 && vpRight == Width() && vpBottom == Height();
    if (wholeTarget) {
        // Where the buffer already holds the value everywhere but in its dirty rows, only those.
        const PixelBox all{0, 0, Width() - 1, Height() - 1};
        const struct {
            DWORD flag;
            KnownContents& known;
            std::uint32_t value;
        } buffers[2] = {{D3DCLEAR_TARGET, colorKnown_, color}, {D3DCLEAR_ZBUFFER, depthKnown_, depth}};
        for (const auto& buffer : buffers) {
            if (flags & buffer.flag) {
                const bool isColor = buffer.flag == D3DCLEAR_TARGET;
                if (buffer.known.uniform && buffer.known.value == buffer.value) {
                    FillRows(buffer.known.dirty, buffer.flag, color, depth);
                    if (isColor) {
                        changedSincePresent_.Add(buffer.known.dirty);
                    }
                } else {
                    FillBox(all, buffer.flag, color, depth);
                    if (isColor) {
                        changedSincePresent_.Add(all);
                    }
                }
                buffer.known.uniform = true;
                buffer.known.value = buffer.value;
                buffer.known.dirty.Reset();
            }
        }
        return D3D_OK;
    }
    const D3DRECT whole{vpLeft, vpTop, vpRight, vpBottom};
    const DWORD rectCount = count > 0 ? count : 1;
    for (DWORD r = 0; r < rectCount; ++r) {
        const D3DRECT& rect = count > 0 ? rects[r] : whole;
        const LONG left = std::max(rect.x1, vpLeft);
        const LONG top = std::max(rect.y1, vpTop);
        const LONG right = std::min(rect.x2, vpRight);
        const LONG bottom = std::min(rect.y2, vpBottom);
        if (left >= right || top >= bottom) {
            continue;
        }
        const PixelBox box{left, top, right - 1, bottom - 1};
        FillBox(box, flags, color, depth);
        if (flags & D3DCLEAR_TARGET) {
            colorKnown_.dirty.Add(box);
            changedSincePresent_.Add(box);
        }
        if (flags & D3DCLEAR_ZBUFFER) {
            depthKnown_.dirty.Add(box);
        }
    }
    return D3D_OK;
}

void Device::PixelBox::Add(const PixelBox& box) {
    if (box.Empty()) {
        return;
    }
    if (Empty()) {
        *this = box;
        return;
    }
    left = std::min(left, box.left);
    top = std::min(top, box.top);
    right = std::max(right, box.right);
    bottom = std::max(bottom, box.bottom);
}

Device::DirtyRows::DirtyRows(int height)
    : first_(static_cast<std::size_t>(height), INT_MAX), last_(static_cast<std::size_t>(height), INT_MIN) {}

void Device::DirtyRows::Add(const PixelBox& box) {
    if (box.Empty()) {
        return;
    }
    pipeline::ActiveRasterKernels().widenRows(first_.data() + box.top, last_.data() + box.top,
                                              static_cast<std::size_t>(box.bottom - box.top + 1),
                                              static_cast<int>(box.left), static_cast<int>(box.right));
    box_.Add(box);
}

void Device::DirtyRows::Add(const DirtyRows& other) {
    if (other.Empty()) {
        return;
    }
    const long top = other.box_.top;
    pipeline::ActiveRasterKernels().mergeRows(first_.data() + top, last_.data() + top, other.first_.data() + top,
                                              other.last_.data() + top,
                                              static_cast<std::size_t>(other.box_.bottom - top + 1));
    box_.Add(other.box_);
}

void Device::DirtyRows::Reset() {
    if (Empty()) {
        return;
    }
    std::fill(first_.begin() + box_.top, first_.begin() + box_.bottom + 1, INT_MAX);
    std::fill(last_.begin() + box_.top, last_.begin() + box_.bottom + 1, INT_MIN);
    box_ = PixelBox{};
}

void Device::FillRows(const DirtyRows& rows, DWORD flags, D3DCOLOR color, std::uint16_t depth) {
    if (rows.Empty()) {
        return;
    }
    const std::size_t width = parameters_.BackBufferWidth;
    const long top = rows.Box().top;
    const auto start = static_cast<std::size_t>(top) * width;
    const auto count = static_cast<std::size_t>(rows.Box().bottom - top + 1);
    const pipeline::RasterKernels& kernels = pipeline::ActiveRasterKernels();
    if (flags & D3DCLEAR_TARGET) {
        kernels.fillColorRows(color_.data() + start, width, rows.First() + top, rows.Last() + top, count, color);
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        kernels.fillDepthRows(depth_.data() + start, width, rows.First() + top, rows.Last() + top, count, depth);
    }
}

void Device::FillRun(std::size_t start, std::size_t count, DWORD flags, D3DCOLOR color, std::uint16_t depth) {
    const pipeline::RasterKernels& kernels = pipeline::ActiveRasterKernels();
    if (flags & D3DCLEAR_TARGET) {
        kernels.fillColor(color_.data() + start, count, color);  // stored as given
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        kernels.fillDepth(depth_.data() + start, count, depth);
    }
}

void Device::FillBox(const PixelBox& box, DWORD flags, D3DCOLOR color, std::uint16_t depth) {
    if (box.Empty()) {
        return;
    }
    // Row by row, or as one run when the box spans whole rows.
    const std::size_t width = parameters_.BackBufferWidth;
    const auto columns = static_cast<std::size_t>(box.right - box.left + 1);
    const auto boxRows = static_cast<std::size_t>(box.bottom - box.top + 1);
    const bool wholeRows = columns == width;
    const std::size_t rows = wholeRows ? 1 : boxRows;
    const std::size_t run = wholeRows ? columns * boxRows : columns;
    for (std::size_t k = 0; k < rows; ++k) {
        FillRun((static_cast<std::size_t>(box.top) + k) * width + static_cast<std::size_t>(box.left), run, flags, color,
                depth);
    }
}

void Device::MarkDrawn(const pipeline::ScreenPolygon& polygon) const {
    for (int k = 0; k < polygon.count; ++k) {
        MarkDrawn(polygon.vertices[k]);
    }
}

// Every pixel a primitive may write lies within a pixel of its vertices' box: triangles cover
// centres inside, lines the centres their diamonds' exits pass, points and last pixels the
// centre nearest their vertex.
void Device::MarkDrawnRows() {
    if (drawnVertices_.minX > drawnVertices_.maxX) {
        return;
    }
    const auto clamp = [](std::int64_t v, int size) {
        return static_cast<long>(std::clamp<std::int64_t>(v, 0, size - 1));
    };
    drawn_.Add(PixelBox{clamp((drawnVertices_.minX >> pipeline::kSubPixelBits) - 1, Width()),
                        clamp((drawnVertices_.minY >> pipeline::kSubPixelBits) - 1, Height()),
                        clamp((drawnVertices_.maxX >> pipeline::kSubPixelBits) + 2, Width()),
                        clamp((drawnVertices_.maxY >> pipeline::kSubPixelBits) + 2, Height())});
    drawnVertices_ = pipeline::VertexBox{};
}

void Device::FoldDrawn() {
    if (drawn_.Empty()) {
        return;
    }
    colorKnown_.dirty.Add(drawn_);
    depthKnown_.dirty.Add(drawn_);
    changedSincePresent_.Add(drawn_);
    drawn_.Reset();
}

HRESULT Device::BeginScene() {
    if (inScene_) {
        return D3DERR_INVALIDCALL;
    }
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_) {
        return D3DERR_INVALIDCALL;
    }
    inScene_ = false;
    FinishDrawing();
    return D3D_OK;
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                        const RGNDATA* dirtyRegion) {
    static_cast<void>(dirtyRegion);  // only a hint
    // Present is refused inside a scene; partial presents (rectangles) are not supported: the
    // whole back buffer always goes to the whole client area.
    if (inScene_ || sourceRect != nullptr || destRect != nullptr) {
        return D3DERR_INVALIDCALL;
    }
    HWND window = destWindowOverride;
    if (window == nullptr) {
        window = parameters_.hDeviceWindow != nullptr ? parameters_.hDeviceWindow : focusWindow_;
    }
    // With D3DSWAPEFFECT_DISCARD the back buffer's contents are undefined afterwards; this
    // device leaves them as they are.
    FinishDrawing();
    Image frame{color_.data(), Width(), Height()};
    FoldDrawn();
    frame.changedKnown = presentedBefore_;
    if (!changedSincePresent_.Empty()) {
        const PixelBox& box = changedSincePresent_.Box();
        frame.changedLeft = static_cast<int>(box.left);
        frame.changedTop = static_cast<int>(box.top);
        frame.changedRight = static_cast<int>(box.right);
        frame.changedBottom = static_cast<int>(box.bottom);
        frame.changedFirst = changedSincePresent_.First();
        frame.changedLast = changedSincePresent_.Last();
    }
    presentedBefore_ = true;
    PresentToWindow(window, frame);
    changedSincePresent_.Reset();
    return D3D_OK;
}

// >>state

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (static_cast<std::uint32_t>(state) >= renderStates_.size()) {
        return D3DERR_INVALIDCALL;
    }
    renderStates_[state] = value;
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (value == nullptr || static_cast<std::uint32_t>(state) >= renderStates_.size()) {
        return D3DERR_INVALIDCALL;
    }
    *value = renderStates_[state];
    return D3D_OK;
}

bool Device::IsTransformSlot(D3DTRANSFORMSTATETYPE state) {
    const auto slot = static_cast<std::uint32_t>(state);
    return slot == D3DTS_VIEW || slot == D3DTS_PROJECTION || (slot >= D3DTS_TEXTURE0 && slot <= D3DTS_TEXTURE7) ||
           (slot >= 256 && slot < kTransformSlots);
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (matrix == nullptr || !IsTransformSlot(state)) {
        return D3DERR_INVALIDCALL;
    }
    transforms_[static_cast<std::size_t>(state)] = *matrix;
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (matrix == nullptr || !IsTransformSlot(state)) {
        return D3DERR_INVALIDCALL;
    }
    *matrix = transforms_[static_cast<std::size_t>(state)];
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
    fvf_ = fvf;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
    if (fvf == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *fvf = fvf_;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *viewport = viewport_;
    return D3D_OK;
}

// >>vertex buffers

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) {
    static_cast<void>(usage);  // write-only and dynamic are hints for memory placement
    if (vertexBuffer == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *vertexBuffer = nullptr;
    // The buffer must hold at least one vertex of its FVF (if it names one); the length need
    // not be a multiple of the vertex size. Scratch buffers cannot be vertex buffers, and
    // shared handles are not supported.
    pipeline::VertexLayout layout;
    const bool tooShort = length == 0 || (fvf != 0 && pipeline::DescribeFvf(fvf, &layout) && length < layout.stride);
    const bool poolValid = pool == D3DPOOL_DEFAULT || pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM;
    if (tooShort || !poolValid || sharedHandle != nullptr) {
        return D3DERR_INVALIDCALL;
    }
    try {
        // Initial contents are undefined on Windows; here they are zero.
        *vertexBuffer = new VertexBuffer(this, TakeVertexStorage(length));
    } catch (const std::bad_alloc&) {
        return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    }
    return D3D_OK;
}

std::vector<std::uint8_t> Device::TakeVertexStorage(UINT length) {
    // The smallest spare that is large enough.
    std::size_t best = spareStorage_.size();
    for (std::size_t k = 0; k < spareStorage_.size(); ++k) {
        const std::size_t capacity = spareStorage_[k].capacity();
        if (capacity >= length && (best == spareStorage_.size() || capacity < spareStorage_[best].capacity())) {
            best = k;
        }
    }
    if (best == spareStorage_.size()) {
        ++storageAllocations_;
        return std::vector<std::uint8_t>(length, 0);
    }
    std::vector<std::uint8_t> bytes = std::move(spareStorage_[best]);
    spareStorage_[best] = std::move(spareStorage_.back());
    spareStorage_.pop_back();
    spareBytes_ -= bytes.capacity();
    bytes.assign(length, 0);  // within its capacity: no allocation
    return bytes;
}

void Device::ReturnVertexStorage(std::vector<std::uint8_t> bytes) {
    // Kept within bounds, so that one huge draw does not hold its memory for good.
    constexpr std::size_t kMaxSpares = 32;
    constexpr std::size_t kMaxSpareBytes = std::size_t{16} << 20;
    if (bytes.capacity() == 0 || spareStorage_.size() >= kMaxSpares ||
        spareBytes_ + bytes.capacity() > kMaxSpareBytes) {
        return;
    }
    try {
        spareBytes_ += bytes.capacity();
        spareStorage_.push_back(std::move(bytes));
    } catch (const std::bad_alloc&) {
        spareBytes_ -= bytes.capacity();
    }
}

HRESULT Device::SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                                UINT stride) {
    if (streamNumber >= kMaxStreams) {
        return D3DERR_INVALIDCALL;
    }
    auto* buffer = dynamic_cast<VertexBuffer*>(streamData);
    if (streamData != nullptr && (buffer == nullptr || buffer->Owner() != this)) {
        return D3DERR_INVALIDCALL;  // not a buffer of this device
    }
    StreamBinding& stream = streams_[streamNumber];
    // Bind first, then let go of the old buffer, so rebinding the same buffer cannot free it.
    if (buffer != nullptr) {
        buffer->AddPrivateReference();
    }
    if (stream.buffer != nullptr) {
        stream.buffer->ReleasePrivateReference();
    }
    stream.buffer = buffer;
    stream.offset = buffer != nullptr ? offsetInBytes : 0;
    // Unbinding keeps the previous stride, as the runtime does.
    if (buffer != nullptr) {
        stream.stride = stride;
    }
    return D3D_OK;
}

// >>drawing

pipeline::RasterState Device::CurrentRasterState() const {
    pipeline::RasterState state;
    state.cullMode = renderStates_[D3DRS_CULLMODE];
    state.fillMode = renderStates_[D3DRS_FILLMODE];
    state.shadeMode = renderStates_[D3DRS_SHADEMODE];
    state.depthTest = renderStates_[D3DRS_ZENABLE] != D3DZB_FALSE && !depth_.empty();
    state.depthWrite = renderStates_[D3DRS_ZWRITEENABLE] != FALSE;
    state.depthFunc = renderStates_[D3DRS_ZFUNC];
    state.colorWriteMask = renderStates_[D3DRS_COLORWRITEENABLE] & 0xF;
    return state;
}

void Device::FinishDrawing() const {
    if (queue_ != nullptr) {
        queue_->Flush();
    }
}

pipeline::RenderTarget Device::Target() {
    pipeline::RenderTarget target;
    if (RasterThreads() > 1) {
        if (queue_ == nullptr) {
            queue_ = std::make_unique<pipeline::RasterQueue>(Height());
        }
        target.queue = queue_.get();
    }
    target.color = color_.data();
    target.depth = depth_.empty() ? nullptr : depth_.data();
    target.width = Width();
    target.height = Height();
    target.ScissorTo(viewport_);
    target.kernels = &pipeline::ActiveRasterKernels();
    return target;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) {
    // Drawing happens inside a scene, from stream 0, with an FVF whose vertex size is the
    // stream's stride, and not while the buffer is locked.
    pipeline::VertexLayout layout;
    const StreamBinding& stream = streams_[0];
    const bool knownType = primitiveType == D3DPT_POINTLIST || pipeline::IsLineType(primitiveType) ||
                           pipeline::IsTriangleType(primitiveType);
    if (!inScene_ || !knownType || !pipeline::DescribeFvf(fvf_, &layout) || stream.buffer == nullptr ||
        stream.stride != layout.stride || stream.buffer->IsLocked()) {
        return D3DERR_INVALIDCALL;
    }

    // 1. Assembly bounds: the runtime does not check the count against the buffer; this device
    //    draws only the complete primitives whose vertices lie inside it and never reads past it.
    const std::vector<std::uint8_t>& bytes = stream.buffer->Bytes();
    const std::uint64_t firstByte = std::uint64_t{stream.offset} + std::uint64_t{startVertex} * stream.stride;
    const std::uint64_t availableVertices = firstByte < bytes.size() ? (bytes.size() - firstByte) / stream.stride : 0;
    const std::uint32_t primitives = pipeline::PrimitivesThatFit(primitiveType, primitiveCount, availableVertices);
    if (primitives == 0) {
        return D3D_OK;
    }
    const auto vertexCount = static_cast<std::uint32_t>(pipeline::VerticesForPrimitives(primitiveType, primitives));

    // Lists share no vertex between primitives, so they go through steps 2 and 3 a run of
    // primitives at a time: the transformed vertices of a run stay in the cache until they are
    // drawn, and a huge list needs no room for all of them at once.
    const std::uint32_t verticesEach = primitiveType == D3DPT_TRIANGLELIST ? 3
                                       : primitiveType == D3DPT_LINELIST   ? 2
                                       : primitiveType == D3DPT_POINTLIST  ? 1
                                                                           : 0;
    constexpr std::uint32_t kRun = 256;
    const std::uint32_t run = verticesEach != 0 ? kRun : primitives;
    const pipeline::ViewportMap map(viewport_);
    const pipeline::RasterState state = CurrentRasterState();
    pipeline::RenderTarget target = Target();
    const bool triangles = pipeline::IsTriangleType(primitiveType);
    const bool lines = pipeline::IsLineType(primitiveType);
    // Solid flat triangles in the kernels' states go in batches.
    const bool depthTest = state.depthTest && target.depth != nullptr;
    const bool batchTriangles = target.kernels->setUpTriangles != nullptr && triangles &&
                                state.fillMode == D3DFILL_SOLID && state.shadeMode == D3DSHADE_FLAT &&
                                pipeline::KernelsTakeStates(state, depthTest);
    for (std::uint32_t first = 0; first < primitives; first += run) {
        const std::uint32_t count = std::min(run, primitives - first);
        const std::uint32_t firstVertex = verticesEach * first;

        // 2. Vertex fetch and transform: world * view * projection, lighting; for triangles,
        //    each vertex inside the clip volume also divided by w and mapped to the screen, once.
        try {
            TransformAndMap(bytes.data() + firstByte + std::size_t{firstVertex} * stream.stride,
                            verticesEach != 0 ? verticesEach * count : vertexCount, layout, primitiveType, map);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;  // no room for the transformed vertices of a huge strip or fan
        }

        // 3. Each primitive in Direct3D's vertex order through clipping, setup and rasterization
        //    (vertex indices relative to the run's first vertex; a list's triangles take them in
        //    threes).
        const auto drawTriangle = [&](const pipeline::TriangleIndices& triangle) {
            if (mapped_[triangle.v[0]] != pipeline::VertexPlace::kClip &&
                mapped_[triangle.v[1]] != pipeline::VertexPlace::kClip &&
                mapped_[triangle.v[2]] != pipeline::VertexPlace::kClip) {
                DrawMappedTriangle(triangle, state, target);
            } else {
                DrawTriangle(clipVertices_[triangle.v[0]], clipVertices_[triangle.v[1]], clipVertices_[triangle.v[2]],
                             map, state, target);
            }
        };
        if (batchTriangles) {
            // Those that need no clipping set up side by side, the others one by one, in order.
            pipeline::TriangleBatch batch;
            batch.type = primitiveType;
            batch.begin = primitiveType == D3DPT_TRIANGLELIST ? 0 : first;
            batch.end = batch.begin + count;
            batch.vertices = screenVertices_.data();
            batch.columns = ColumnsView();
            batch.places = mapped_.data();
            batch.clipVertices = clipVertices_.data();
            batch.cullMode = state.cullMode;
            batch.target = &target;
            batch.depthTest = depthTest;
            while (batch.begin < batch.end) {
                batch.begin = target.kernels->setUpTriangles(batch);
                if (batch.begin < batch.end) {
                    drawTriangle(pipeline::AssembleTriangle(primitiveType, batch.begin++));
                }
            }
            continue;
        }
        if (primitiveType == D3DPT_TRIANGLELIST) {
            for (std::uint32_t v = 0; v < 3 * count; v += 3) {
                drawTriangle({{v, v + 1, v + 2}});
            }
            continue;
        }
        for (std::uint32_t i = first; i < first + count; ++i) {
            if (triangles) {
                pipeline::TriangleIndices triangle = pipeline::AssembleTriangle(primitiveType, i);
                for (std::uint32_t& v : triangle.v) {
                    v -= firstVertex;
                }
                drawTriangle(triangle);
            } else if (lines) {
                const std::array<std::uint32_t, 2> line = pipeline::AssembleLine(primitiveType, i);
                DrawLine(clipVertices_[line[0] - firstVertex], clipVertices_[line[1] - firstVertex], map, state,
                         target);
            } else {
                DrawPoint(clipVertices_[i - firstVertex], map, state, target);
            }
        }
    }
    MarkDrawnRows();
    return D3D_OK;
}

void Device::DrawLine(const pipeline::ClipVertex& v0, const pipeline::ClipVertex& v1, const pipeline::ViewportMap& map,
                      const pipeline::RasterState& state, pipeline::RenderTarget& target) const {
    // Clip, divide by w and map; lines are not culled and take no fill mode. Flat lines have
    // their first vertex's colour.
    pipeline::ClippedPolygon& clipped = clipped_;
    pipeline::ScreenPolygon& screen = screen_;
    if (!pipeline::ClipSegment(v0, v1, &clipped) || !pipeline::MapToViewport(clipped, map, &screen)) {
        return;
    }
    MarkDrawn(screen);
    pipeline::RasterizeSegment(screen, ShadingOf(v0, state), state, target, renderStates_[D3DRS_LASTPIXEL] != FALSE);
}

void Device::DrawPoint(const pipeline::ClipVertex& v, const pipeline::ViewportMap& map,
                       const pipeline::RasterState& state, pipeline::RenderTarget& target) const {
    // A point inside the clip volume is one pixel (D3DRS_POINTSIZE is not honoured: always 1).
    pipeline::ClippedPolygon& clipped = clipped_;
    pipeline::ScreenPolygon& screen = screen_;
    if (!pipeline::ClipPoint(v, &clipped) || !pipeline::MapToViewport(clipped, map, &screen)) {
        return;
    }
    MarkDrawn(screen);
    pipeline::Shading shading;
    shading.flatColor = v.packedColor;
    pipeline::RasterizePoints(screen, shading, state, target);
}

void Device::TransformAndMap(const std::uint8_t* data, std::uint32_t count, const pipeline::VertexLayout& layout,
                             D3DPRIMITIVETYPE primitiveType, const pipeline::ViewportMap& map) {
    pipeline::TransformVertices(data, count, layout, transforms_[D3DTS_WORLD], transforms_[D3DTS_VIEW],
                                transforms_[D3DTS_PROJECTION], renderStates_[D3DRS_LIGHTING] != FALSE, &clipVertices_);
    const bool triangles = pipeline::IsTriangleType(primitiveType);
    if (triangles) {
        // Grown, never shrunk (so that new entries are not first zeroed for each larger draw);
        // the first `count` entries are set below.
        if (screenVertices_.size() < count) {
            screenVertices_.resize(count);
            const std::size_t room = std::size_t{count} + pipeline::kColumnSlack;
            mapped_.resize(room);
            for (auto* column : {&columns_.x, &columns_.y}) {
                column->resize(room);
            }
            for (auto* column : {&columns_.windowX, &columns_.windowY, &columns_.windowZ}) {
                column->resize(room);
            }
        }
        // Every vertex mapped counts as drawn, those of triangles culled later too.
        pipeline::ActiveRasterKernels().mapVertices(clipVertices_.data(), count, map, screenVertices_.data(),
                                                    ColumnsView(), mapped_.data(), &drawnVertices_);
    }
}

void Device::DrawTriangle(const pipeline::ClipVertex& v0, const pipeline::ClipVertex& v1,
                          const pipeline::ClipVertex& v2, const pipeline::ViewportMap& map,
                          const pipeline::RasterState& state, pipeline::RenderTarget& target) const {
    // Clip to 0 <= z <= w and the guard band.
    pipeline::ClippedPolygon& clipped = clipped_;
    if (!pipeline::ClipTriangle(v0, v1, v2, &clipped)) {
        return;
    }
    // Divide by w, map to the viewport, snap to 1/256 pixel; cull by the winding on the screen
    // before the rest of the setup.
    pipeline::ScreenPolygon& screen = screen_;
    if (!pipeline::MapPositions(clipped, map, &screen) || pipeline::IsCulled(screen, state.cullMode)) {
        return;
    }
    pipeline::MapAttributes(clipped, map, &screen);
    Fill(v0, state, target);
}

void Device::DrawMappedTriangle(const pipeline::TriangleIndices& triangle, const pipeline::RasterState& state,
                                pipeline::RenderTarget& target) {
    // Inside the clip volume, so clipping leaves it whole: the same steps as DrawTriangle, with
    // the vertices mapped beforehand. (The scratch is read through plain pointers, which the
    // writes below cannot make the compiler reload.)
    using Place = pipeline::VertexPlace;
    const Place* const places = mapped_.data();
    pipeline::ScreenVertex* const screenVertices = screenVertices_.data();
    const std::uint32_t i0 = triangle.v[0], i1 = triangle.v[1], i2 = triangle.v[2];
    if ((places[i0] == Place::kUnusable) | (places[i1] == Place::kUnusable) | (places[i2] == Place::kUnusable)) {
        return;
    }
    const pipeline::ScreenVertex& v0 = screenVertices[i0];
    const pipeline::ScreenVertex& v1 = screenVertices[i1];
    const pipeline::ScreenVertex& v2 = screenVertices[i2];
    const std::int64_t doubleArea = pipeline::DoubleArea(v0, v1, v2);
    if (pipeline::IsCulled(doubleArea, state.cullMode)) {
        return;
    }
    if (state.fillMode == D3DFILL_POINT || state.fillMode == D3DFILL_WIREFRAME) {
        pipeline::ScreenPolygon& screen = screen_;
        for (std::size_t k = 0; k < 3; ++k) {
            screen.vertices[k] = screenVertices_[triangle.v[k]];
            screen.edgeToNextIsOriginal[k] = true;
            screen.isOriginalVertex[k] = true;
        }
        screen.count = 3;
        screen.doubleArea = doubleArea;
        Fill(clipVertices_[triangle.v[0]], state, target);
        return;
    }
    pipeline::RasterizeSolidTriangle(v0, v1, v2, doubleArea, ShadingOf(clipVertices_[triangle.v[0]], state), state,
                                     target);
}

// The shading of a triangle or line whose provoking (first) vertex is `provoking`.
pipeline::Shading Device::ShadingOf(const pipeline::ClipVertex& provoking, const pipeline::RasterState& state) {
    // Flat shading keeps the colour of the primitive's first vertex, even where clipping cut
    // that vertex away (D3DSHADEMODE); Gouraud shading has no use for it.
    pipeline::Shading shading;
    shading.flat = state.shadeMode == D3DSHADE_FLAT;
    if (shading.flat) {
        shading.flatColor = provoking.packedColor;
    }
    return shading;
}

void Device::Fill(const pipeline::ClipVertex& provoking, const pipeline::RasterState& state,
                  pipeline::RenderTarget& target) const {
    const pipeline::ScreenPolygon& screen = screen_;
    MarkDrawn(screen);
    const pipeline::Shading shading = ShadingOf(provoking, state);
    switch (state.fillMode) {
        case D3DFILL_POINT:
            pipeline::RasterizePoints(screen, shading, state, target);
            break;
        case D3DFILL_WIREFRAME:
            pipeline::RasterizeWireframe(screen, shading, state, target);
            break;
        default:
            pipeline::RasterizeSolid(screen, shading, state, target);
            break;
    }
}

}  // namespace standin
