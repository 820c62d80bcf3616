// What one frame must send to the device before anything is drawn: the
// state, in the order it is sent, the light and the two transforms. The
// tests' own statement of the values, read by the test on the recording
// doubles (order and values sent) and by the test on Wine's Direct3D (what
// the device ends up with).
#pragma once

#include <cstring>

#include <d3d9.h>
#include <d3dx9.h>

namespace frame_state {

struct Setting {
    const char* name;
    DWORD state;
    DWORD value;
};

// Render states, first of all.
inline const Setting kRenderStates[] = {
    {"ZENABLE", D3DRS_ZENABLE, D3DZB_TRUE},
    {"NORMALIZENORMALS", D3DRS_NORMALIZENORMALS, TRUE},
    {"ALPHABLENDENABLE", D3DRS_ALPHABLENDENABLE, TRUE},
    {"DESTBLEND", D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
    {"SRCBLEND", D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {"CULLMODE", D3DRS_CULLMODE, D3DCULL_CCW},
};

// Texture stage 0, next.
inline const Setting kTextureStageStates[] = {
    {"COLOROP", D3DTSS_COLOROP, D3DTOP_MODULATE},   {"COLORARG2", D3DTSS_COLORARG2, D3DTA_DIFFUSE},
    {"ALPHAARG2", D3DTSS_ALPHAARG2, D3DTA_DIFFUSE}, {"COLORARG1", D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {"ALPHAOP", D3DTSS_ALPHAOP, D3DTOP_MODULATE},   {"ALPHAARG1", D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
};

// Sampler 0, next.
inline const Setting kSamplerStates[] = {
    {"MINFILTER", D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
    {"MAGFILTER", D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
};

// Render states sent after light 0 is enabled.
inline const Setting kLightingStates[] = {
    {"LIGHTING", D3DRS_LIGHTING, TRUE},
    {"AMBIENT", D3DRS_AMBIENT, 0xFFFFFFFF},
    {"SPECULARENABLE", D3DRS_SPECULARENABLE, TRUE},
    {"DIFFUSEMATERIALSOURCE", D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
    {"SPECULARMATERIALSOURCE", D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL},
    {"AMBIENTMATERIALSOURCE", D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
    {"EMISSIVEMATERIALSOURCE", D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
    {"LOCALVIEWER", D3DRS_LOCALVIEWER, FALSE},
};

// Then the vertex format, and last the shading mode.
constexpr DWORD kVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
inline const Setting kShadeMode = {"SHADEMODE", D3DRS_SHADEMODE, D3DSHADE_GOURAUD};

// The projection's arguments, in single precision: 10 degrees and 640/480.
constexpr float kFovY = 0.17453292f;
constexpr float kAspect = 1.3333334f;
constexpr float kNear = 100.0f;
constexpr float kFar = 10000.0f;

// The camera, and the light shining from the eye towards the target.
inline const D3DXVECTOR3 kEye(2000.0f, 500.0f, 2000.0f);
inline const D3DXVECTOR3 kTarget(0.0f, 120.0f, 0.0f);
inline const D3DXVECTOR3 kUp(0.0f, 1.0f, 0.0f);

// Light 0, every byte of it: what is not set is zero.
inline D3DLIGHT9 Light()
{
    D3DLIGHT9 light;
    std::memset(&light, 0, sizeof(light));
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {0.8f, 0.8f, 0.8f, 1.0f};
    light.Specular = {0.8f, 0.8f, 0.8f, 1.0f};
    light.Ambient = {0.2f, 0.2f, 0.2f, 1.0f};
    light.Direction = {2000.0f, 380.0f, 2000.0f};
    light.Range = 10000.0f;
    light.Falloff = 1.0f;
    light.Phi = 3.1415927f;
    return light;
}

} // namespace frame_state
