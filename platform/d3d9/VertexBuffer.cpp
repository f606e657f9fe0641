// Vertex buffers. Every pool keeps its bytes in system memory owned by the buffer, as the
// managed pool does on Windows, so Lock always returns the same memory and its contents last.
#include <mutex>
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
struct SpareObjects {
    std::mutex mutex;
    std::vector<void*> memory;
    ~SpareObjects() {
        for (void* m : memory) {
            ::operator delete(m);
        }
    }
};

SpareObjects& Spares() {
    static SpareObjects spares;
    return spares;
}

constexpr std::size_t kMaxSpareObjects = 64;

}  // namespace

void* VertexBuffer::operator new(std::size_t size) {
    SpareObjects& spares = Spares();
    {
        const std::lock_guard<std::mutex> lock(spares.mutex);
        if (size == sizeof(VertexBuffer) && !spares.memory.empty()) {
            void* memory = spares.memory.back();
            spares.memory.pop_back();
            return memory;
        }
    }
    return ::operator new(size);
}

void VertexBuffer::operator delete(void* memory) {
    if (memory == nullptr) {
        return;
    }
    SpareObjects& spares = Spares();
    {
        const std::lock_guard<std::mutex> lock(spares.mutex);
        if (spares.memory.size() < kMaxSpareObjects) {
            try {
                spares.memory.push_back(memory);
                return;
            } catch (const std::bad_alloc&) {
                // no room to keep it: give it back below
            }
        }
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
