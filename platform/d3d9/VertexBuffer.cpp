// Vertex buffers. Every pool keeps its bytes in system memory owned by the buffer, as the
// managed pool does on Windows, so Lock always returns the same memory and its contents last.
#include <cstddef>
#include <new>

#include "platform/d3d9/Device.h"

namespace standin {

VertexBuffer::VertexBuffer(Device* device, std::vector<std::uint8_t> bytes)
    : device_(device), bytes_(std::move(bytes)) {
    device_->AddRef();
    CountVertexBuffer(+1);
}

VertexBuffer::~VertexBuffer() {
    device_->ReturnVertexStorage(std::move(bytes_));
    CountVertexBuffer(-1);
}

namespace {

// Memory of deleted buffer objects, for the next ones; a few suffice for one buffer per draw.
// Each thread keeps its own, so that taking and giving back need no lock (a device is used from
// one thread at a time, which both creates its buffers and lets them go). The slots themselves
// are never destroyed; what they hold is given back when the thread ends, and from then on a
// buffer deleted on that thread (by a static destructor, say) is given back at once.
constexpr std::size_t kMaxSpareObjects = 64;
struct SpareObjects {
    void* memory[kMaxSpareObjects];
    std::size_t count;
    bool closed;
};
thread_local SpareObjects tSpares{};

struct SpareObjectsCloser {
    SpareObjectsCloser() = default;
    SpareObjectsCloser(const SpareObjectsCloser&) = delete;
    SpareObjectsCloser& operator=(const SpareObjectsCloser&) = delete;
    ~SpareObjectsCloser() {
        while (tSpares.count > 0) {
            ::operator delete(tSpares.memory[--tSpares.count]);
        }
        tSpares.closed = true;
    }
};
// Made on a thread's first spare, so that its end gives the spares back.
thread_local SpareObjectsCloser tCloser;

}  // namespace

void* VertexBuffer::operator new(std::size_t size) {
    SpareObjects& spares = tSpares;
    if (size == sizeof(VertexBuffer) && spares.count > 0) {
        return spares.memory[--spares.count];
    }
    return ::operator new(size);
}

void VertexBuffer::operator delete(void* memory) {
    if (memory == nullptr) {
        return;
    }
    SpareObjects& spares = tSpares;
    if (!spares.closed && spares.count < kMaxSpareObjects) {
        if (spares.count == 0) {
            [[maybe_unused]] const SpareObjectsCloser* closer = &tCloser;
        }
        spares.memory[spares.count++] = memory;
        return;
    }
    ::operator delete(memory);
}

ULONG VertexBuffer::AddRef() {
    if (publicReferences_ == 0) {
        device_->AddRef();  // a bound buffer brought back to public life holds its device again
    }
    return ++publicReferences_;
}

ULONG VertexBuffer::Release() {
    const ULONG left = --publicReferences_;
    if (left == 0) {
        // The last public reference lets go of the device. The buffer itself lives on while the
        // device has it bound. Nothing of `this` is touched after the device's Release, which
        // may destroy the device and with it this buffer.
        Device* device = device_;
        if (privateReferences_ == 0) {
            delete this;
        }
        device->Release();
    }
    return left;
}

void VertexBuffer::AddPrivateReference() {
    ++privateReferences_;
}

void VertexBuffer::ReleasePrivateReference() {
    if (--privateReferences_ == 0 && publicReferences_ == 0) {
        delete this;
    }
}

HRESULT VertexBuffer::Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) {
    if (data == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *data = nullptr;
    // Offset 0 and size 0 lock the whole buffer; a size of 0 means "to the end".
    const std::uint64_t end = std::uint64_t{offsetToLock} + sizeToLock;
    if (offsetToLock >= bytes_.size() || end > bytes_.size()) {
        return D3DERR_INVALIDCALL;
    }
    // D3DLOCK_DISCARD and D3DLOCK_NOOVERWRITE are meant for dynamic buffers; with memory of its
    // own the buffer treats every lock alike.
    static_cast<void>(flags);
    ++locks_;
    *data = bytes_.data() + offsetToLock;
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock() {
    if (locks_ == 0) {
        return D3DERR_INVALIDCALL;
    }
    --locks_;
    return D3D_OK;
}

}  // namespace standin
