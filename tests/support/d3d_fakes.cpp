#include "tests/support/d3d_fakes.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <type_traits>

#include <gtest/gtest.h>

namespace d3d_fakes {

namespace {

Environment* g_current = nullptr;

std::string Rect(const RECT* rect)
{
    if (rect == nullptr)
        return "null";
    std::ostringstream text;
    text << "{" << rect->left << ", " << rect->top << ", " << rect->right << ", " << rect->bottom << "}";
    return text.str();
}

std::string Color(const D3DCOLORVALUE& color)
{
    return "(" + Float(color.r) + ", " + Float(color.g) + ", " + Float(color.b) + ", " + Float(color.a) + ")";
}

std::string Vector(const D3DVECTOR& vector)
{
    return "{" + Float(vector.x) + ", " + Float(vector.y) + ", " + Float(vector.z) + "}";
}

std::string WideHex(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += (result.empty() ? "" : " ") + Hex(static_cast<unsigned>(c));
    return result;
}

} // namespace

std::string Hex(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llx", value);
    return text;
}

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

void CallLog::Add(std::string call)
{
    calls_.push_back(std::move(call));
    if (observer_)
        observer_(calls_.back());
}

std::vector<std::string> CallLog::Matching(const std::string& prefix) const
{
    std::vector<std::string> result;
    for (const std::string& call : calls_)
        if (call.compare(0, prefix.size(), prefix) == 0)
            result.push_back(call);
    return result;
}

void Failures::Fail(const std::string& call, HRESULT result, int times)
{
    entries_[call] = Entry{result, times};
}

HRESULT Failures::Next(const std::string& call)
{
    auto entry = entries_.find(call);
    if (entry == entries_.end())
        return S_OK;
    const HRESULT result = entry->second.result;
    if (entry->second.remaining != kAlways && --entry->second.remaining == 0)
        entries_.erase(entry);
    return result;
}

FakeObject::FakeObject(Environment& environment, std::string name)
    : environment_(environment), name_(std::move(name))
{
}

ULONG FakeObject::DoAddRef()
{
    environment_.log.Add(name_ + ".AddRef()");
    return static_cast<ULONG>(++refs);
}

ULONG FakeObject::DoRelease()
{
    environment_.log.Add(name_ + ".Release()");
    // Below zero stays visible: a test expecting zero sees the extra release.
    return static_cast<ULONG>(--refs);
}

void FakeObject::Log(const std::string& method, const std::string& arguments, HRESULT result)
{
    std::string call = name_ + "." + method + "(" + arguments + ")";
    if (FAILED(result))
        call += " -> " + Hex(static_cast<unsigned long>(result));
    environment_.log.Add(std::move(call));
}

HRESULT FakeObject::Call(const std::string& method, const std::string& arguments)
{
    const HRESULT result = environment_.failures.Next(name_ + "." + method);
    Log(method, arguments, result);
    return result;
}

template <typename Result>
Result FakeObject::Unexpected(const char* method)
{
    Log(method, "?", S_OK);
    if constexpr (std::is_void_v<Result>)
        return;
    else if constexpr (std::is_same_v<Result, HRESULT>)
        return E_NOTIMPL;
    else
        return Result{};
}

#define D3D_FAKES_DEFINE(fake, result, method, parameters) \
    result STDMETHODCALLTYPE fake::method parameters { return Unexpected<result>(#method); }

// ---- Direct3D ----

FakeDirect3D::FakeDirect3D(Environment& environment) : FakeObject(environment, "direct3d") {}

HRESULT FakeDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode)
{
    // A failed query writes nothing, as Direct3D does for a bad adapter.
    const HRESULT result = Call("GetAdapterDisplayMode", std::to_string(adapter));
    if (SUCCEEDED(result))
        *mode = displayMode;
    return result;
}

HRESULT FakeDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                                   D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device)
{
    createParams.push_back(*params);
    const HRESULT result = Call("CreateDevice", std::to_string(adapter) + ", " + std::to_string(type) + ", " +
                                                    environment_.NameOf(focusWindow) + ", " + Hex(behaviour));
    if (SUCCEEDED(result)) {
        ++environment_.device.refs;
        *device = &environment_.device;
    }
    return result;
}

#define D3D_FAKES_DEFINE_DIRECT3D(result, method, parameters) D3D_FAKES_DEFINE(FakeDirect3D, result, method, parameters)
D3D_FAKES_DIRECT3D_UNEXPECTED(D3D_FAKES_DEFINE_DIRECT3D)

// ---- Device ----

FakeDevice::FakeDevice(Environment& environment) : FakeObject(environment, "device") {}

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

#define D3D_FAKES_DEFINE_DEVICE(result, method, parameters) D3D_FAKES_DEFINE(FakeDevice, result, method, parameters)
D3D_FAKES_DEVICE_UNEXPECTED(D3D_FAKES_DEFINE_DEVICE)

// ---- D3DX device resources ----

void DeviceResources::Acquire(IDirect3DDevice9* device, Environment& environment)
{
    if (device != static_cast<IDirect3DDevice9*>(&environment.device) || held_)
        return;
    device_ = &environment.device;
    held_ = true;
    ++device_->heldD3dxResources;
}

void DeviceResources::Lose()
{
    if (device_ != nullptr && held_) {
        held_ = false;
        --device_->heldD3dxResources;
    }
}

void DeviceResources::Restore()
{
    if (device_ != nullptr && !held_) {
        held_ = true;
        ++device_->heldD3dxResources;
    }
}

// ---- Sprite ----

FakeSprite::FakeSprite(Environment& environment) : FakeObject(environment, "sprite") {}

HRESULT FakeSprite::Begin(DWORD flags)
{
    return Call("Begin", Hex(flags));
}

HRESULT FakeSprite::End()
{
    return Call("End", "");
}

HRESULT FakeSprite::OnLostDevice()
{
    const HRESULT result = Call("OnLostDevice", "");
    if (SUCCEEDED(result))
        resources.Lose();
    return result;
}

HRESULT FakeSprite::OnResetDevice()
{
    const HRESULT result = Call("OnResetDevice", "");
    if (SUCCEEDED(result))
        resources.Restore();
    return result;
}

#define D3D_FAKES_DEFINE_SPRITE(result, method, parameters) D3D_FAKES_DEFINE(FakeSprite, result, method, parameters)
D3D_FAKES_SPRITE_UNEXPECTED(D3D_FAKES_DEFINE_SPRITE)

// ---- Font ----

FakeFont::FakeFont(Environment& environment) : FakeObject(environment, "font") {}

INT FakeFont::DrawTextA(ID3DXSprite* sprite, const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color)
{
    DrawnText drawnText{environment_.NameOf(sprite), count < 0 ? std::string(text) : std::string(text, count), {},
                        count, rect != nullptr ? *rect : RECT{}, format, color};
    const HRESULT result = environment_.failures.Next("font.DrawTextA");
    Log("DrawTextA", drawnText.sprite + ", \"" + Bytes(drawnText.text) + "\", " + std::to_string(count) + ", " +
                         Rect(rect) + ", " + Hex(format) + ", " + Hex(color),
        result);
    drawn.push_back(std::move(drawnText));
    // The height of the text drawn; zero tells the caller it failed.
    return FAILED(result) ? 0 : 24;
}

INT FakeFont::DrawTextW(ID3DXSprite* sprite, const WCHAR* text, INT count, RECT* rect, DWORD format, D3DCOLOR color)
{
    DrawnText drawnText{environment_.NameOf(sprite), {}, count < 0 ? std::wstring(text) : std::wstring(text, count),
                        count, rect != nullptr ? *rect : RECT{}, format, color};
    const HRESULT result = environment_.failures.Next("font.DrawTextW");
    Log("DrawTextW", drawnText.sprite + ", {" + WideHex(drawnText.wideText) + "}, " + std::to_string(count) + ", " +
                         Rect(rect) + ", " + Hex(format) + ", " + Hex(color),
        result);
    drawn.push_back(std::move(drawnText));
    return FAILED(result) ? 0 : 24;
}

HRESULT FakeFont::OnLostDevice()
{
    const HRESULT result = Call("OnLostDevice", "");
    if (SUCCEEDED(result))
        resources.Lose();
    return result;
}

HRESULT FakeFont::OnResetDevice()
{
    const HRESULT result = Call("OnResetDevice", "");
    if (SUCCEEDED(result))
        resources.Restore();
    return result;
}

#define D3D_FAKES_DEFINE_FONT(result, method, parameters) D3D_FAKES_DEFINE(FakeFont, result, method, parameters)
D3D_FAKES_FONT_UNEXPECTED(D3D_FAKES_DEFINE_FONT)

// ---- Environment ----

Environment::Environment() : direct3d(*this), device(*this), sprite(*this), font(*this)
{
    if (g_current != nullptr)
        ADD_FAILURE() << "two d3d_fakes::Environment objects alive at once";
    g_current = this;
}

Environment::~Environment()
{
    if (g_current == this)
        g_current = nullptr;
}

Environment* Environment::Current()
{
    return g_current;
}

std::string Environment::NameOf(const void* object) const
{
    if (object == nullptr)
        return "null";
    if (object == static_cast<const IDirect3D9*>(&direct3d))
        return direct3d.Name();
    if (object == static_cast<const IDirect3DDevice9*>(&device))
        return device.Name();
    if (object == static_cast<const ID3DXSprite*>(&sprite))
        return sprite.Name();
    if (object == static_cast<const ID3DXFont*>(&font))
        return font.Name();
    return Hex(reinterpret_cast<uintptr_t>(object));
}

namespace {

Environment& Active(const char* function)
{
    if (g_current == nullptr) {
        // Nothing sensible can be handed out; stop the test here.
        std::fprintf(stderr, "%s called without a d3d_fakes::Environment\n", function);
        std::abort();
    }
    return *g_current;
}

void LogEntryPoint(Environment& environment, const std::string& call, HRESULT result)
{
    environment.log.Add(FAILED(result) ? call + " -> " + Hex(static_cast<unsigned long>(result)) : call);
}

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
    Environment& environment = d3d_fakes::Active("Direct3DCreate9");
    const std::string call = "Direct3DCreate9(" + std::to_string(sdkVersion) + ")";
    if (FAILED(environment.failures.Next("Direct3DCreate9"))) {
        environment.log.Add(call + " -> null");
        return nullptr;
    }
    environment.log.Add(call);
    ++environment.direct3d.refs;
    return &environment.direct3d;
}

HRESULT WINAPI D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite)
{
    Environment& environment = d3d_fakes::Active("D3DXCreateSprite");
    const HRESULT result = environment.failures.Next("D3DXCreateSprite");
    d3d_fakes::LogEntryPoint(environment, "D3DXCreateSprite(" + environment.NameOf(device) + ")", result);
    if (FAILED(result))
        return result;
    environment.sprite.resources.Acquire(device, environment);
    ++environment.sprite.refs;
    *sprite = &environment.sprite;
    return S_OK;
}

HRESULT WINAPI D3DXCreateFontA(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels,
                               WINBOOL italic, DWORD charset, DWORD precision, DWORD quality, DWORD pitchAndFamily,
                               const char* faceName, ID3DXFont** font)
{
    Environment& environment = d3d_fakes::Active("D3DXCreateFontA");
    d3d_fakes::FontRequest request{environment.NameOf(device), height, width, weight, mipLevels, italic,
                                   charset, precision, quality, pitchAndFamily, faceName != nullptr ? faceName : ""};
    const HRESULT result = environment.failures.Next("D3DXCreateFontA");
    std::ostringstream call;
    call << "D3DXCreateFontA(" << request.device << ", " << height << ", " << width << ", " << weight << ", "
         << mipLevels << ", " << italic << ", " << charset << ", " << precision << ", " << quality << ", "
         << pitchAndFamily << ", \"" << d3d_fakes::Bytes(request.faceName) << "\")";
    d3d_fakes::LogEntryPoint(environment, call.str(), result);
    environment.fontRequests.push_back(std::move(request));
    if (FAILED(result))
        return result;
    environment.font.resources.Acquire(device, environment);
    ++environment.font.refs;
    *font = &environment.font;
    return S_OK;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, FLOAT fovY, FLOAT aspect, FLOAT zNear, FLOAT zFar)
{
    Environment& environment = d3d_fakes::Active("D3DXMatrixPerspectiveFovRH");
    environment.perspectiveRequests.push_back({fovY, aspect, zNear, zFar});
    environment.log.Add("D3DXMatrixPerspectiveFovRH(" + d3d_fakes::Float(fovY) + ", " + d3d_fakes::Float(aspect) +
                        ", " + d3d_fakes::Float(zNear) + ", " + d3d_fakes::Float(zFar) + ")");
    return d3d_fakes::MakeMatrix(environment, out);
}

D3DXMATRIX* WINAPI D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                                      const D3DXVECTOR3* up)
{
    Environment& environment = d3d_fakes::Active("D3DXMatrixLookAtRH");
    environment.lookAtRequests.push_back({*eye, *at, *up});
    environment.log.Add("D3DXMatrixLookAtRH(" + d3d_fakes::Vector(*eye) + ", " + d3d_fakes::Vector(*at) + ", " +
                        d3d_fakes::Vector(*up) + ")");
    return d3d_fakes::MakeMatrix(environment, out);
}
