// A decorator over IDirect3DDevice9 that writes every call the viewer makes, with its arguments
// and result, and every vertex uploaded into a vertex buffer, one line per call, and then
// passes the call on. The line format is described in tools/capture/README.md.
#pragma once

#include <ostream>

#include "device/D3D9Api.h"

// Returns a device that traces to out and forwards to device. It takes over the caller's
// reference to device and gives it back when its own count reaches zero. out must outlive it.
IDirect3DDevice9* CreateTraceDevice(IDirect3DDevice9* device, std::ostream& out);

// The first line of every trace.
inline constexpr const char* kTraceHeader = "# anemometer-capture trace 1";
