// Vertex buffers. Every pool keeps its bytes in system memory owned by the buffer, as the
// managed pool does on Windows, so Lock always returns the same memory and its contents last.
#include "platform/d3d9/Device.h"

namespace standin {

VertexBuffer::VertexBuffer(Device* device, std::vector<std::uint8_t> bytes)
    : device_(device), bytes_(std::move(bytes)) {
    device_->AddRef();
    CountVertexBuffer(+1);
}

VertexBuffer::~VertexBuffer() {
    CountVertexBuffer(-1);
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
