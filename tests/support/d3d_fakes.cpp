#include "tests/support/d3d_fakes.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <type_traits>

#include <gtest/gtest.h>

namespace d3d_fakes {

namespace {

// A new fake in its slot; one handed out before stays alive, and counted.
template <typename Fake>
Fake& HandOut(Environment& environment, std::unique_ptr<Fake>& slot)
{
    if (slot != nullptr)
        environment.earlier.push_back(std::move(slot));
    slot = std::make_unique<Fake>(environment);
    return *slot;
}

std::string Rect(const RECT* rect)
{
    if (rect == nullptr)
        return "null";
    std::ostringstream text;
    text << "{" << rect->left << ", " << rect->top << ", " << rect->right << ", " << rect->bottom << "}";
    return text.str();
}

std::string WideHex(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += (result.empty() ? "" : " ") + Hex(static_cast<unsigned>(c));
    return result;
}

} // namespace

D3DFake::D3DFake(Environment& environment, std::string name)
    : fakes::FakeObject(environment.session, std::move(name)), environment_(environment)
{
}

// ---- Direct3D ----

FakeDirect3D::FakeDirect3D(Environment& environment) : D3DFake(environment, "direct3d") {}

HRESULT FakeDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode)
{
    // A failed query writes nothing, as Direct3D does for a bad adapter.
    const HRESULT result = Call("GetAdapterDisplayMode", std::to_string(adapter));
    if (SUCCEEDED(result))
        *mode = environment_.displayMode;
    return result;
}

HRESULT FakeDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                                   D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device)
{
    createParams.push_back(*params);
    const HRESULT result = Call("CreateDevice", std::to_string(adapter) + ", " + std::to_string(type) + ", " +
                                                    environment_.NameOf(focusWindow) + ", " + Hex(behaviour));
    if (SUCCEEDED(result)) {
        *device = &HandOut(environment_, environment_.device);
    }
    return result;
}

#define D3D_FAKES_DEFINE_DIRECT3D(result, method, parameters) FAKES_DEFINE(FakeDirect3D, result, method, parameters)
D3D_FAKES_DIRECT3D_UNEXPECTED(D3D_FAKES_DEFINE_DIRECT3D)

// ---- Device ----

FakeDevice::FakeDevice(Environment& environment) : D3DFake(environment, "device") {}

HRESULT FakeDevice::Reset(D3DPRESENT_PARAMETERS* params)
{
    resetParams.push_back(*params);
    HRESULT result = environment_.failures.Next("device.Reset");
    if (SUCCEEDED(result) && heldD3dxResources > 0)
        result = D3DERR_INVALIDCALL;
    Log("Reset", "", result);
    return result;
}

HRESULT FakeDevice::Present(const RECT* source, const RECT* destination, HWND window, const RGNDATA* dirty)
{
    return Call("Present", Rect(source) + ", " + Rect(destination) + ", " + environment_.NameOf(window) + ", " +
                               environment_.NameOf(dirty));
}

HRESULT FakeDevice::BeginScene()
{
    return Call("BeginScene", "");
}

HRESULT FakeDevice::EndScene()
{
    return Call("EndScene", "");
}

HRESULT FakeDevice::Clear(DWORD rectCount, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil)
{
    return Call("Clear", std::to_string(rectCount) + ", " + environment_.NameOf(rects) + ", " + Hex(flags) + ", " +
                             Hex(color) + ", " + Float(z) + ", " + std::to_string(stencil));
}

HRESULT FakeDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    transforms.emplace_back(state, *matrix);
    return Call("SetTransform", std::to_string(state) + ", " + Matrix(*matrix));
}

HRESULT FakeDevice::SetLight(DWORD index, const D3DLIGHT9* light)
{
    lights.push_back(*light);
    return Call("SetLight", std::to_string(index));
}

HRESULT FakeDevice::LightEnable(DWORD index, WINBOOL enable)
{
    return Call("LightEnable", std::to_string(index) + ", " + std::to_string(enable));
}

HRESULT FakeDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    return Call("SetRenderState", std::to_string(state) + ", " + Hex(value));
}

HRESULT FakeDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    return Call("SetTextureStageState", std::to_string(stage) + ", " + std::to_string(type) + ", " + Hex(value));
}

HRESULT FakeDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    return Call("SetSamplerState", std::to_string(sampler) + ", " + std::to_string(type) + ", " + Hex(value));
}

HRESULT FakeDevice::SetFVF(DWORD fvf)
{
    return Call("SetFVF", Hex(fvf));
}

#define D3D_FAKES_DEFINE_DEVICE(result, method, parameters) FAKES_DEFINE(FakeDevice, result, method, parameters)
D3D_FAKES_DEVICE_UNEXPECTED(D3D_FAKES_DEFINE_DEVICE)

// ---- D3DX device resources ----

void DeviceResources::Acquire(IDirect3DDevice9* device, Environment& environment)
{
    if (environment.device == nullptr || device != static_cast<IDirect3DDevice9*>(environment.device.get()) || held_)
        return;
    device_ = environment.device.get();
    held_ = true;
    ++device_->heldD3dxResources;
}

HRESULT DeviceResources::Hold(bool held, HRESULT result)
{
    if (SUCCEEDED(result) && device_ != nullptr && held_ != held) {
        held_ = held;
        device_->heldD3dxResources += held ? 1 : -1;
    }
    return result;
}

// ---- Sprite ----

FakeSprite::FakeSprite(Environment& environment) : D3DXObjectFake(environment, "sprite") {}

HRESULT FakeSprite::Begin(DWORD flags)
{
    return Call("Begin", Hex(flags));
}

HRESULT FakeSprite::End()
{
    return Call("End", "");
}

#define D3D_FAKES_DEFINE_SPRITE(result, method, parameters) FAKES_DEFINE(FakeSprite, result, method, parameters)
D3D_FAKES_SPRITE_UNEXPECTED(D3D_FAKES_DEFINE_SPRITE)

// ---- Font ----

FakeFont::FakeFont(Environment& environment) : D3DXObjectFake(environment, "font") {}

INT FakeFont::DrawTextA(ID3DXSprite* sprite, const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color)
{
    const std::string bytes = count < 0 ? std::string(text) : std::string(text, count);
    return Draw("DrawTextA", DrawnText{environment_.NameOf(sprite), bytes, {}, count, rect != nullptr ? *rect : RECT{},
                                       format, color},
                "\"" + Bytes(bytes) + "\"", rect);
}

INT FakeFont::DrawTextW(ID3DXSprite* sprite, const WCHAR* text, INT count, RECT* rect, DWORD format, D3DCOLOR color)
{
    const std::wstring wide = count < 0 ? std::wstring(text) : std::wstring(text, count);
    return Draw("DrawTextW", DrawnText{environment_.NameOf(sprite), {}, wide, count, rect != nullptr ? *rect : RECT{},
                                       format, color},
                "{" + WideHex(wide) + "}", rect);
}

INT FakeFont::Draw(const char* method, DrawnText drawnText, const std::string& shownText, const RECT* rect)
{
    const HRESULT result = environment_.failures.Next(std::string("font.") + method);
    Log(method, drawnText.sprite + ", " + shownText + ", " + std::to_string(drawnText.count) + ", " +
                    Rect(rect) + ", " + Hex(drawnText.format) + ", " + Hex(drawnText.color),
        result);
    drawn.push_back(std::move(drawnText));
    // The height of the text drawn; zero tells the caller it failed.
    return FAILED(result) ? 0 : 24;
}

#define D3D_FAKES_DEFINE_FONT(result, method, parameters) FAKES_DEFINE(FakeFont, result, method, parameters)
D3D_FAKES_FONT_UNEXPECTED(D3D_FAKES_DEFINE_FONT)

// ---- Environment ----

Environment::Environment(fakes::Session& session) : session(session), log(session.log), failures(session.failures)
{
}

std::string Environment::NameOf(const void* object) const
{
    if (object == nullptr)
        return "null";
    if (direct3d != nullptr && object == static_cast<const IDirect3D9*>(direct3d.get()))
        return direct3d->Name();
    if (device != nullptr && object == static_cast<const IDirect3DDevice9*>(device.get()))
        return device->Name();
    if (sprite != nullptr && object == static_cast<const ID3DXSprite*>(sprite.get()))
        return sprite->Name();
    if (font != nullptr && object == static_cast<const ID3DXFont*>(font.get()))
        return font->Name();
    return Hex(reinterpret_cast<uintptr_t>(object));
}

namespace {

D3DXMATRIX* MakeMatrix(Environment& environment, D3DXMATRIX* out)
{
    const float base = 1000.0f * static_cast<float>(environment.madeMatrices.size() + 1);
    for (int k = 0; k < 16; ++k)
        out->m[k / 4][k % 4] = base + static_cast<float>(k);
    environment.madeMatrices.push_back(*out);
    return out;
}

} // namespace

} // namespace d3d_fakes

using d3d_fakes::Environment;

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion)
{
    Environment& environment = Environment::Active("Direct3DCreate9");
    const std::string call = "Direct3DCreate9(" + std::to_string(sdkVersion) + ")";
    if (FAILED(environment.failures.Next("Direct3DCreate9"))) {
        environment.log.Add(call + " -> null");
        return nullptr;
    }
    environment.log.Add(call);
    return &d3d_fakes::HandOut(environment, environment.direct3d);
}

HRESULT WINAPI D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite)
{
    Environment& environment = Environment::Active("D3DXCreateSprite");
    const HRESULT result = environment.failures.Next("D3DXCreateSprite");
    environment.session.LogEntryPoint("D3DXCreateSprite(" + environment.NameOf(device) + ")", result);
    if (FAILED(result))
        return result;
    d3d_fakes::FakeSprite& made = d3d_fakes::HandOut(environment, environment.sprite);
    made.resources.Acquire(device, environment);
    *sprite = &made;
    return S_OK;
}

HRESULT WINAPI D3DXCreateFontA(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                               WINBOOL italic, DWORD charset, DWORD precision, DWORD quality, DWORD pitchAndFamily,
                               const char* faceName, ID3DXFont** font)
{
    Environment& environment = Environment::Active("D3DXCreateFontA");
    d3d_fakes::FontRequest request{environment.NameOf(device), height, width, weight, mipLevels, italic,
                                   charset, precision, quality, pitchAndFamily, faceName != nullptr ? faceName : ""};
    const HRESULT result = environment.failures.Next("D3DXCreateFontA");
    std::ostringstream call;
    call << "D3DXCreateFontA(" << request.device << ", " << height << ", " << width << ", " << weight << ", "
         << mipLevels << ", " << italic << ", " << charset << ", " << precision << ", " << quality << ", "
         << pitchAndFamily << ", \"" << d3d_fakes::Bytes(request.faceName) << "\")";
    environment.session.LogEntryPoint(call.str(), result);
    environment.fontRequests.push_back(std::move(request));
    if (FAILED(result))
        return result;
    d3d_fakes::FakeFont& made = d3d_fakes::HandOut(environment, environment.font);
    made.resources.Acquire(device, environment);
    *font = &made;
    return S_OK;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, FLOAT fovY, FLOAT aspect, FLOAT zNear, FLOAT zFar)
{
    Environment& environment = Environment::Active("D3DXMatrixPerspectiveFovRH");
    environment.perspectiveRequests.push_back({fovY, aspect, zNear, zFar});
    environment.log.Add("D3DXMatrixPerspectiveFovRH(" + d3d_fakes::Float(fovY) + ", " + d3d_fakes::Float(aspect) +
                        ", " + d3d_fakes::Float(zNear) + ", " + d3d_fakes::Float(zFar) + ")");
    return d3d_fakes::MakeMatrix(environment, out);
}

D3DXMATRIX* WINAPI D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                                      const D3DXVECTOR3* up)
{
    Environment& environment = Environment::Active("D3DXMatrixLookAtRH");
    environment.lookAtRequests.push_back({*eye, *at, *up});
    environment.log.Add("D3DXMatrixLookAtRH(" + d3d_fakes::Vector(*eye) + ", " + d3d_fakes::Vector(*at) + ", " +
                        d3d_fakes::Vector(*up) + ")");
    return d3d_fakes::MakeMatrix(environment, out);
}
