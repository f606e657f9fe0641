// One frame: clear, camera, the anemometer, present, and the rotor's advance.
#include <cmath>

#include "device/D3DXMath.h"
#include "geometry/Geometry.h"
#include "scene/Scene.h"

namespace {

constexpr D3DCOLOR kClearColor = 0xFF000000;  // opaque black
constexpr float kFieldOfViewY = 0.7853982f;   // pi/4
constexpr float kAspectRatio = 1.3333334f;    // 4/3, whatever the window's shape
constexpr float kNearPlane = 1.0f;
constexpr float kFarPlane = 100.0f;

// The eye looks at the origin with +y up. Where that is undefined the view stays stable instead
// of collapsing: from straight above or below the origin the top of the picture points toward +z
// (where it points just before the eye gets there from its starting side), and from the origin
// itself the eye looks along +z.
D3DXMATRIX ViewFrom(const D3DXVECTOR3& eye) {
    D3DXVECTOR3 at{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 up{0.0f, 1.0f, 0.0f};
    if (eye.x == 0.0f && eye.z == 0.0f) {
        if (eye.y == 0.0f) {
            at = {0.0f, 0.0f, 1.0f};
        } else {
            up = {0.0f, 0.0f, 1.0f};
        }
    }
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    return view;
}

}  // namespace

void RenderFrame() {
    IDirect3DDevice9* device = sceneState.device;

    // Colour and depth are cleared by two separate calls.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kClearColor, 1.0f, 0);
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, kClearColor, 1.0f, 0);
    device->BeginScene();
    device->SetFVF(kColorVertexFvf);

    const D3DXVECTOR3 eye{0.0f + sceneState.eyeOffsetX, 20.0f + sceneState.eyeOffsetY, -30.0f + sceneState.eyeOffsetZ};
    const D3DXMATRIX view = ViewFrom(eye);
    device->SetTransform(D3DTS_VIEW, &view);

    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, kFieldOfViewY, kAspectRatio, kNearPlane, kFarPlane);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    AssembleAnemometer();

    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);

    // One degree per frame; the wrap is tested in double precision, so 360 itself is never held.
    sceneState.rotationDegrees = sceneState.rotationDegrees + 1.0f;
    if (static_cast<double>(sceneState.rotationDegrees) == 360.0) {
        sceneState.rotationDegrees = 0.0f;
    }
}
