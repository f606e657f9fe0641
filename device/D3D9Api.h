// The one header through which the viewer sees Direct3D 9. The build chooses the platform: on
// Windows the real runtime's <d3d9.h>; elsewhere the software stand-in's declarations, which
// carry Direct3D 9's own names and values. Our D3DX-compatible matrices are in
// device/D3DXMath.h, the same on every host.
#pragma once

#include "device/Win32Api.h"

#if defined(ANEMOMETER_STANDIN_PLATFORM)
#include "platform/d3d9/D3D9.h"
#else
#include <d3d9.h>
#endif
