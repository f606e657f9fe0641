// A Direct3D 9 test double that records every call the viewer makes, with its arguments and every
// vertex it uploads, and a stand-in for the default window procedure that records what reaches it.
// The core tests link these instead of a real platform.
#pragma once

#include <string>
#include <vector>

#include "device/D3D9Api.h"
#include "geometry/Geometry.h"

namespace testsupport {

// One DrawPrimitive, with the state it was drawn under and the vertices of the bound buffer.
struct RecordedDraw {
    D3DPRIMITIVETYPE type;
    UINT startVertex;
    UINT primitiveCount;
    DWORD cullMode;
    DWORD fillMode;
    UINT bufferLength;  // bytes, as passed to CreateVertexBuffer
    D3DMATRIX world;
    D3DMATRIX view;
    D3DMATRIX projection;
    std::vector<ColorVertex> vertices;  // the whole buffer
};

// What the double should fail, to exercise the viewer's handling of failures.
struct Failures {
    bool direct3dCreate = false;
    bool createDevice = false;
    bool createVertexBuffer = false;
    bool lock = false;
    bool present = false;  // Present answers D3DERR_DEVICELOST, as when the device is lost
};

class RecordingDevice;

// The log shared by the Direct3D object, the device and its buffers: one line per call, e.g.
// "SetRenderState(22,2)", and the draws.
struct Recording {
    std::vector<std::string> calls;
    std::vector<RecordedDraw> draws;
    D3DPRESENT_PARAMETERS presentParameters{};
    Failures failures;
    int liveBuffers = 0;  // buffers with a reference left, public or the device's
    int liveDevices = 0;
    int liveDirect3d = 0;

    void Clear() {
        calls.clear();
        draws.clear();
    }
    // The calls whose line starts with prefix.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
};

// The recording every double writes to; Direct3DCreate9 starts a new one only through Reset.
Recording& TheRecording();
void ResetRecording();

// The device most recently created through the double.
RecordingDevice* LastDevice();

// Render state as the device currently holds it.
DWORD RenderState(IDirect3DDevice9* device, D3DRENDERSTATETYPE state);

// Calls that reached DefWindowProcA, and what it returns: message + wParam, so a caller's result
// can be told from another value.
struct DefaultProcCall {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<DefaultProcCall>& DefaultProcCalls();
LRESULT DefaultProcResult(UINT message, WPARAM wParam);

}  // namespace testsupport
