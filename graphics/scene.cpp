#include "graphics/scene.h"

#include "graphics/graphics_device.h"

namespace {

// Single precision on purpose: 10 degrees must give exactly 0.17453292f.
constexpr float kRadiansPerDegree = 0.0174532924f;
constexpr float kPi = 3.1415927f;

struct StateValue {
    DWORD state;
    DWORD value;
};

// The state prepares lit, alpha-blended, textured drawing of vertices with
// a position, a normal and one texture coordinate pair.
constexpr StateValue kRenderStates[] = {
    {D3DRS_ZENABLE, D3DZB_TRUE},
    {D3DRS_NORMALIZENORMALS, TRUE},
    {D3DRS_ALPHABLENDENABLE, TRUE},
    {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
    {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {D3DRS_CULLMODE, D3DCULL_CCW},
};

// Colour and alpha of stage 0 are texture x diffuse.
constexpr StateValue kTextureStageStates[] = {
    {D3DTSS_COLOROP, D3DTOP_MODULATE},
    {D3DTSS_COLORARG2, D3DTA_DIFFUSE},
    {D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {D3DTSS_ALPHAOP, D3DTOP_MODULATE},
    {D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
};

constexpr StateValue kSamplerStates[] = {
    {D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
};

// Material colours come from the material, not from the vertices.
constexpr StateValue kLightingStates[] = {
    {D3DRS_LIGHTING, TRUE},
    {D3DRS_AMBIENT, 0xFFFFFFFF},
    {D3DRS_SPECULARENABLE, TRUE},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_LOCALVIEWER, FALSE},
};

constexpr DWORD kVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

void SetRenderStates(IDirect3DDevice9* device, const StateValue* states, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(states[i].state), states[i].value);
}

template <size_t N>
void SetRenderStates(IDirect3DDevice9* device, const StateValue (&states)[N])
{
    SetRenderStates(device, states, N);
}

D3DCOLORVALUE Color(float r, float g, float b, float a)
{
    D3DCOLORVALUE color;
    color.r = r;
    color.g = g;
    color.b = b;
    color.a = a;
    return color;
}

} // namespace

void BeginFrame(float zNear, float zFar, float fovDegrees)
{
    IDirect3DDevice9* device = CurrentDevice();
    if (device == nullptr)
        return;

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, g_graphics->clearColor, 1.0f, 0);
    device->BeginScene();

    SetRenderStates(device, kRenderStates);
    for (const StateValue& entry : kTextureStageStates)
        device->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(entry.state), entry.value);
    for (const StateValue& entry : kSamplerStates)
        device->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(entry.state), entry.value);
    device->LightEnable(0, TRUE);
    SetRenderStates(device, kLightingStates);
    device->SetFVF(kVertexFormat);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);

    const float aspect = g_graphics->width / g_graphics->height;
    const float fovY = fovDegrees * kRadiansPerDegree;
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovRH(&projection, fovY, aspect, zNear, zFar);
    device->SetTransform(D3DTS_PROJECTION, &projection);
}

void SetDirectionalLight(D3DXVECTOR3 direction)
{
    IDirect3DDevice9* device = CurrentDevice();
    if (device == nullptr)
        return;

    D3DLIGHT9& light = g_graphics->light;
    ZeroMemory(&light, sizeof(light));
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = Color(0.8f, 0.8f, 0.8f, 1.0f);
    light.Specular = Color(0.8f, 0.8f, 0.8f, 1.0f);
    light.Ambient = Color(0.2f, 0.2f, 0.2f, 1.0f);
    light.Direction.x = -direction.x;
    light.Direction.y = -direction.y;
    light.Direction.z = -direction.z;
    light.Range = 10000.0f;
    light.Falloff = 1.0f;
    light.Phi = kPi;
    device->SetLight(0, &light);
}

void SetCamera(D3DXVECTOR3 eye, D3DXVECTOR3 target)
{
    IDirect3DDevice9* device = CurrentDevice();
    if (device == nullptr)
        return;

    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXMATRIX view;
    D3DXMatrixLookAtRH(&view, &eye, &target, &up);
    device->SetTransform(D3DTS_VIEW, &view);
}
