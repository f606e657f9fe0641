// The one header through which the viewer sees the Win32 window manager. The build chooses the
// platform: on Windows the real <windows.h>; elsewhere the stand-in over SDL2, which carries
// Win32's own names and values.
#pragma once

#if defined(ANEMOMETER_STANDIN_PLATFORM)
#include "platform/win32/Win32.h"
#else
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
