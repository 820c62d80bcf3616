// Direct3D records as text, for the fakes' log and for tests that compare
// what a device holds: two values print alike only when they are equal.
#pragma once

#include <string>

#include <d3d9.h>
#include <d3dx9.h>

namespace d3d_text {

std::string Float(float value);               // nine significant digits: no two floats print alike
std::string Matrix(const D3DMATRIX& matrix);  // "[m11 m12 ... m44]"
std::string Vector(const D3DXVECTOR3& vector); // "{x, y, z}"
std::string Bytes(const std::string& bytes);  // printable ASCII as is, the rest as \xNN
std::string Describe(const D3DLIGHT9& light); // every field, for exact comparison

} // namespace d3d_text
