// Plays a reference scene file onto a device: a text list of device calls (render states,
// transforms as D3DX matrix chains, draws with inline vertices), '#' starting a comment.
//
//   clear 0xAARRGGBB            colour of the frame's target clear
//   cull none|cw|ccw  fill point|wireframe|solid  shade flat|gouraud  zenable 0|1  lighting 0|1
//   renderstate STATE VALUE
//   world|view|proj CHAIN
//   draw fan|strip|list [prims N]  then "x y z 0xAARRGGBB" per vertex, then "end"
#pragma once

#include <string>

#include "tests/raster/RasterSupport.h"

namespace rastertest {

// Runs the frame that the scene describes on `device`: clear (target, then depth), begin the
// scene, set the viewer's FVF, the scene's commands, end the scene. False with a reason in
// `error` when the text is malformed.
bool PlayScene(const std::string& text, TestDevice& device, std::string* error);

}  // namespace rastertest
