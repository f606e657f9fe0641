// The instrument's eight pieces: a conical mast that stands still, and a rotor of a hub, three
// arms and three cups that turns about the vertical axis through the origin. Every matrix and
// every vertex is made anew in each frame.
#include "device/D3DXMath.h"
#include "geometry/Geometry.h"
#include "scene/Scene.h"

namespace {

constexpr D3DCOLOR kRed = 0x00FF0000;
constexpr D3DCOLOR kWhite = 0x00FFFFFF;
constexpr float kRadiansPerDegree = 0.017453292f;
constexpr float kThirdTurn = 2.0943952f;    // 2 pi / 3
constexpr float kQuarterTurn = 1.5707964f;  // pi / 2

D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, z);
    return m;
}

D3DXMATRIX RotationX(float angle) {
    D3DXMATRIX m;
    D3DXMatrixRotationX(&m, angle);
    return m;
}

D3DXMATRIX RotationY(float angle) {
    D3DXMATRIX m;
    D3DXMatrixRotationY(&m, angle);
    return m;
}

D3DXMATRIX RotationZ(float angle) {
    D3DXMATRIX m;
    D3DXMatrixRotationZ(&m, angle);
    return m;
}

// first * second: first acts on a vertex before second.
D3DXMATRIX operator*(const D3DXMATRIX& first, const D3DXMATRIX& second) {
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &first, &second);
    return m;
}

void SetWorld(const D3DXMATRIX& world) {
    sceneState.device->SetTransform(D3DTS_WORLD, &world);
}

void DrawArm() {
    DrawCylinder(0.5f, 8.0f, 10, kWhite, kRed);
}
void DrawCup() {
    DrawHalfSphere(2.0f, 20, 20, kWhite, kRed);
}

}  // namespace

void AssembleAnemometer() {
    const float rotor = sceneState.rotationDegrees * kRadiansPerDegree;
    const D3DXMATRIX thirdTurn = RotationY(kThirdTurn);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);

    // Everything but the hub stands on the base frame, five units down.
    const D3DXMATRIX baseWorld = identity * Translation(0.0f, -5.0f, 0.0f);

    // Mast: apex at y = 10, base on y = -5.
    SetWorld(baseWorld);
    DrawCone(3.5f, 15.0f, 16, kRed, kWhite);

    // Hub: from y = 6 to 10 around the vertical axis, turning with the rotor.
    SetWorld(RotationY(rotor) * Translation(0.0f, 6.0f, 0.0f));
    DrawCylinder(1.8f, 4.0f, 32, kRed, kWhite);

    // Arms: a cylinder laid along -x at height 8, then the rotor's turn; the second and third
    // are the first turned a further third and two thirds of a turn.
    const D3DXMATRIX armPlacement =
        ((Translation(12.0f, 6.5f, 0.0f) * RotationZ(kQuarterTurn)) * Translation(0.0f, -4.0f, 0.0f)) *
        RotationY(rotor);
    const D3DXMATRIX arm = baseWorld * armPlacement;
    SetWorld(arm);
    DrawArm();
    SetWorld(arm * thirdTurn);
    DrawArm();
    SetWorld((arm * thirdTurn) * thirdTurn);
    DrawArm();

    // Cups: a half-sphere stood up so that its open face looks along -z, set at the end of the
    // first arm, then the rotor's turn; the others follow a third of a turn apart.
    const D3DXMATRIX cupBase = baseWorld * identity;
    const D3DXMATRIX cup = ((RotationX(kQuarterTurn) * cupBase) * Translation(-11.5f, 13.0f, -0.5f)) * RotationY(rotor);
    SetWorld(cup);
    DrawCup();
    SetWorld(cup * thirdTurn);
    DrawCup();
    SetWorld((cup * thirdTurn) * thirdTurn);
    DrawCup();
}
