// The tracing device on the software Direct3D 9, whose interface holds only the methods the
// viewer calls: the shared classes are complete as they are.
#include "tools/capture/TraceDevice.h"
#include "tools/capture/TraceDeviceBase.h"

namespace {

class TraceVertexBuffer final : public TraceVertexBufferBase {
public:
    using TraceVertexBufferBase::TraceVertexBufferBase;
};

class TraceDevice final : public TraceDeviceBase {
public:
    using TraceDeviceBase::TraceDeviceBase;

protected:
    TraceVertexBufferBase* WrapBuffer(IDirect3DVertexBuffer9* inner, UINT length, DWORD fvf) override {
        return new TraceVertexBuffer(inner, state_, length, fvf);
    }
};

}  // namespace

IDirect3DDevice9* CreateTraceDevice(IDirect3DDevice9* device, std::ostream& out) {
    return new TraceDevice(device, out);
}
