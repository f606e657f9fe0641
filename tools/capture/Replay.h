// Replays a trace written by --trace: the device calls it lists are made again, with the same
// arguments and the same vertices, on another device (another host's, or the same one's after a
// change), so the frame can be drawn without the scene code that first made it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/D3D9Api.h"

// One device call of a trace, parsed.
struct TraceCall {
    enum class Kind {
        Clear,
        BeginScene,
        EndScene,
        Present,
        SetRenderState,
        SetTransform,
        SetFVF,
        CreateVertexBuffer,
        Lock,
        Vertex,
        Unlock,
        SetStreamSource,
        DrawPrimitive,
        ReleaseBuffer,
    };
    Kind kind = Kind::BeginScene;
    int line = 0;                        // in the trace, from 1
    int buffer = 0;                      // vbN's N, or 0 for none
    std::vector<std::uint32_t> numbers;  // the call's integer arguments, in order
    std::vector<float> floats;           // a matrix, a vertex's position, Clear's z
    std::vector<D3DRECT> rects;          // Clear's rectangles
    bool rectsNull = true;
};

// Parses the trace's text. Markers, comments, Get calls and AddRef and the device's Release are
// skipped (they change nothing that is drawn). Only 16-byte D3DFVF_XYZ | D3DFVF_DIFFUSE vertex
// data ("vertex" lines) can be replayed. False, with the line and the reason, when a line is not
// of the trace format.
bool ParseTrace(const std::string& text, std::vector<TraceCall>& calls, std::string& error);

// Makes the calls on device, which should be in the state the trace began from (the start-up
// render states). Results are not compared with the recorded ones. False, with the line and the
// reason, when the calls cannot be made (a buffer used before it is made, or one the device
// cannot make or lock); the buffers made so far are then released.
bool ReplayTrace(const std::vector<TraceCall>& calls, IDirect3DDevice9* device, std::string& error);
