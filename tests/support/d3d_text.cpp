#include "tests/support/d3d_text.h"

#include <cstdio>
#include <sstream>

namespace d3d_text {

namespace {

std::string Color(const D3DCOLORVALUE& color)
{
    return "(" + Float(color.r) + ", " + Float(color.g) + ", " + Float(color.b) + ", " + Float(color.a) + ")";
}

std::string Vector(const D3DVECTOR& vector)
{
    return "{" + Float(vector.x) + ", " + Float(vector.y) + ", " + Float(vector.z) + "}";
}

} // namespace

std::string Float(float value)
{
    // Nine significant digits tell any two floats apart.
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(value));
    return text;
}

std::string Matrix(const D3DMATRIX& matrix)
{
    std::string text = "[";
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            text += (row + column == 0 ? "" : " ") + Float(matrix.m[row][column]);
    return text + "]";
}

std::string Vector(const D3DXVECTOR3& vector)
{
    return Vector(static_cast<const D3DVECTOR&>(vector));
}

std::string Bytes(const std::string& bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

std::string Describe(const D3DLIGHT9& light)
{
    std::ostringstream text;
    text << "Type " << light.Type << ", Diffuse " << Color(light.Diffuse) << ", Specular " << Color(light.Specular)
         << ", Ambient " << Color(light.Ambient) << ", Position " << Vector(light.Position) << ", Direction "
         << Vector(light.Direction) << ", Range " << Float(light.Range) << ", Falloff " << Float(light.Falloff)
         << ", Attenuation " << Float(light.Attenuation0) << " " << Float(light.Attenuation1) << " "
         << Float(light.Attenuation2) << ", Theta " << Float(light.Theta) << ", Phi " << Float(light.Phi);
    return text.str();
}

} // namespace d3d_text
