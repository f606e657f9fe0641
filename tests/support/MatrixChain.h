// Reads a matrix written as a chain of D3DX constructors, multiplied left to right with
// D3DXMatrixMultiply (row vectors: the leftmost acts first), '(' ... ')' grouping a sub-product:
//   identity | matrix m11 .. m44 | translate x y z | rotx a | roty a | rotz a
//   | lookat ex ey ez ax ay az ux uy uz | perspective fovy aspect zn zf
// Numbers are read as single-precision floats.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/D3DXMath.h"

namespace testsupport {

// Evaluates the chain held in tokens[position ...], stopping before the first token that is not
// part of it (or at a closing parenthesis that it did not open). Returns nothing, with a reason
// in error, on a malformed chain.
std::optional<D3DXMATRIX> EvaluateChain(const std::vector<std::string>& tokens, std::size_t& position,
                                        std::string& error);

// The same for a whole string.
std::optional<D3DXMATRIX> EvaluateChain(const std::string& text, std::string& error);

std::vector<std::string> SplitTokens(const std::string& text);

}  // namespace testsupport
