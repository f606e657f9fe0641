// Replays a trace written by --trace: the device calls it lists are made again, with the same
// arguments and the same vertices, on another device (another host's, or the same one's after a
// change), so the frame can be drawn without the scene code that first made it.
#pragma once

#include <csignal>
#include <cstddef>
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

// What a trace to replay may cost; past any of these it is refused before anything is made.
inline constexpr std::size_t kMaxTraceBytes = 4u << 20;          // the file: about 36 frames' traces
inline constexpr std::uint32_t kMaxBufferLength = 1u << 20;      // one vertex buffer: 65,536 vertices
inline constexpr std::uint64_t kMaxLiveBufferBytes = 16u << 20;  // all vertex buffers live at once
inline constexpr std::size_t kMaxRectsPerClear = 16;             // rectangles of one Clear
inline constexpr std::uint64_t kMaxClearRects = 64;              // rectangles cleared in all (null: one)
inline constexpr std::uint64_t kMaxPrimitives = 65536;           // primitives drawn in all (a frame: 1,420)

// Reads the trace file at path into text: false, with the reason, for a folder, a file that cannot
// be read, or one longer than kMaxTraceBytes (of which no more than one block past the limit is
// read, so endless inputs end too).
bool ReadTraceFile(const std::string& path, std::string& text, std::string& error);

// Parses the trace's text. Markers, comments, Get calls and AddRef and the device's Release are
// skipped (they change nothing that is drawn). Only 16-byte D3DFVF_XYZ | D3DFVF_DIFFUSE vertex
// data ("vertex" lines) can be replayed. The reading is strict: the header line first and the
// "end" line last; every line exactly the words its call takes, with one "-> RESULT"; buffers
// used only while live, and none made again while live; the limits above. False, with the line
// and the reason, otherwise (and calls is left empty).
bool ParseTrace(const std::string& text, std::vector<TraceCall>& calls, std::string& error);

// The work a replay may do: Clear rectangles and the screen bounding boxes of the primitives
// drawn (a primitive reaching behind the eye counts the whole back buffer) may add up to this
// many back buffers' worth of pixels.
inline constexpr double kMaxReplayScreens = 64;

enum class ReplayOutcome {
    kDrawn,         // every call was made
    kDeviceFailed,  // the device could not make or lock a buffer, or the calls do not fit together
    kTooCostly,     // the draws would pass kMaxReplayScreens; the call that would pass it is not made
    kInterrupted,   // *stop became non-zero
};

// Makes the calls on device, which should be in the state the trace began from (the start-up
// render states). Results are not compared with the recorded ones. On any outcome but kDrawn,
// error names the line and the reason, and the buffers made so far are released. stop, when
// given, is looked at before each call (a signal handler sets it).
ReplayOutcome ReplayTrace(const std::vector<TraceCall>& calls, IDirect3DDevice9* device, std::string& error,
                          const volatile std::sig_atomic_t* stop = nullptr);
