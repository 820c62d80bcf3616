// Recording doubles of Direct3D 9 and D3DX 9 for test programs that link
// no d3d9 or d3dx9 library, on the shared fake base (fake_com.h).
//
// The fakes implement the real COM interfaces of the MinGW headers
// (IDirect3D9, IDirect3DDevice9, ID3DXSprite, ID3DXFont). The MinGW headers
// declare the entry points without dllimport, so d3d_fakes.cpp defines
// Direct3DCreate9, D3DXCreateSprite, D3DXCreateFontA,
// D3DXMatrixPerspectiveFovRH and D3DXMatrixLookAtRH itself; they hand out
// the objects of the Environment alive at the time, named "direct3d",
// "device", "sprite" and "font" in the log.
//
// The device behaves like a real Direct3D 9 device about Reset: it refuses
// it with D3DERR_INVALIDCALL while a sprite or font created on it still
// holds its device resources, i.e. between its creation (or OnResetDevice)
// and its OnLostDevice. Wine's d3d9 lets such a Reset through, so a program
// that only ever ran there could miss it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <d3d9.h>
#include <d3dx9.h>

#include "tests/support/d3d_text.h"
#include "tests/support/fake_com.h"

namespace d3d_fakes {

using fakes::Hex;

using d3d_text::Bytes;
using d3d_text::Describe;
using d3d_text::Float;
using d3d_text::Matrix;
using d3d_text::Vector;

class Environment;

// A fake that can name the other fakes of its Environment in its log.
class D3DFake : public fakes::FakeObject {
protected:
    D3DFake(Environment& environment, std::string name);
    Environment& environment_;
};

#define D3D_FAKES_DIRECT3D_UNEXPECTED(X)                                                                        \
    X(HRESULT, QueryInterface, (REFIID, void**))                                                               \
    X(HRESULT, RegisterSoftwareDevice, (void*))                                                                \
    X(UINT, GetAdapterCount, ())                                                                               \
    X(HRESULT, GetAdapterIdentifier, (UINT, DWORD, D3DADAPTER_IDENTIFIER9*))                                   \
    X(UINT, GetAdapterModeCount, (UINT, D3DFORMAT))                                                            \
    X(HRESULT, EnumAdapterModes, (UINT, D3DFORMAT, UINT, D3DDISPLAYMODE*))                                     \
    X(HRESULT, CheckDeviceType, (UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, WINBOOL))                             \
    X(HRESULT, CheckDeviceFormat, (UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT))            \
    X(HRESULT, CheckDeviceMultiSampleType, (UINT, D3DDEVTYPE, D3DFORMAT, WINBOOL, D3DMULTISAMPLE_TYPE, DWORD*)) \
    X(HRESULT, CheckDepthStencilMatch, (UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT))                    \
    X(HRESULT, CheckDeviceFormatConversion, (UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT))                          \
    X(HRESULT, GetDeviceCaps, (UINT, D3DDEVTYPE, D3DCAPS9*))                                                   \
    X(HMONITOR, GetAdapterMonitor, (UINT))

class FakeDirect3D final : public IDirect3D9, public D3DFake {
public:
    explicit FakeDirect3D(Environment& environment);

    // The present parameters of every CreateDevice call, failed ones too.
    std::vector<D3DPRESENT_PARAMETERS> createParams;

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                                           D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;
    D3D_FAKES_DIRECT3D_UNEXPECTED(FAKES_DECLARE)
};

#define D3D_FAKES_DEVICE_UNEXPECTED(X)                                                                             \
    X(HRESULT, QueryInterface, (REFIID, void**))                                                                  \
    X(HRESULT, TestCooperativeLevel, ())                                                                          \
    X(UINT, GetAvailableTextureMem, ())                                                                           \
    X(HRESULT, EvictManagedResources, ())                                                                         \
    X(HRESULT, GetDirect3D, (IDirect3D9**))                                                                       \
    X(HRESULT, GetDeviceCaps, (D3DCAPS9*))                                                                        \
    X(HRESULT, GetDisplayMode, (UINT, D3DDISPLAYMODE*))                                                           \
    X(HRESULT, GetCreationParameters, (D3DDEVICE_CREATION_PARAMETERS*))                                           \
    X(HRESULT, SetCursorProperties, (UINT, UINT, IDirect3DSurface9*))                                             \
    X(void, SetCursorPosition, (int, int, DWORD))                                                                 \
    X(WINBOOL, ShowCursor, (WINBOOL))                                                                             \
    X(HRESULT, CreateAdditionalSwapChain, (D3DPRESENT_PARAMETERS*, IDirect3DSwapChain9**))                        \
    X(HRESULT, GetSwapChain, (UINT, IDirect3DSwapChain9**))                                                       \
    X(UINT, GetNumberOfSwapChains, ())                                                                            \
    X(HRESULT, GetBackBuffer, (UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**))                              \
    X(HRESULT, GetRasterStatus, (UINT, D3DRASTER_STATUS*))                                                        \
    X(HRESULT, SetDialogBoxMode, (WINBOOL))                                                                       \
    X(void, SetGammaRamp, (UINT, DWORD, const D3DGAMMARAMP*))                                                     \
    X(void, GetGammaRamp, (UINT, D3DGAMMARAMP*))                                                                  \
    X(HRESULT, CreateTexture, (UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*))        \
    X(HRESULT, CreateVolumeTexture,                                                                               \
      (UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DVolumeTexture9**, HANDLE*))                    \
    X(HRESULT, CreateCubeTexture, (UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9**, HANDLE*))      \
    X(HRESULT, CreateVertexBuffer, (UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*))              \
    X(HRESULT, CreateIndexBuffer, (UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*))            \
    X(HRESULT, CreateRenderTarget,                                                                                \
      (UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, WINBOOL, IDirect3DSurface9**, HANDLE*))                 \
    X(HRESULT, CreateDepthStencilSurface,                                                                         \
      (UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, WINBOOL, IDirect3DSurface9**, HANDLE*))                 \
    X(HRESULT, UpdateSurface, (IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const POINT*))                \
    X(HRESULT, UpdateTexture, (IDirect3DBaseTexture9*, IDirect3DBaseTexture9*))                                   \
    X(HRESULT, GetRenderTargetData, (IDirect3DSurface9*, IDirect3DSurface9*))                                     \
    X(HRESULT, GetFrontBufferData, (UINT, IDirect3DSurface9*))                                                    \
    X(HRESULT, StretchRect,                                                                                       \
      (IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*, D3DTEXTUREFILTERTYPE))                   \
    X(HRESULT, ColorFill, (IDirect3DSurface9*, const RECT*, D3DCOLOR))                                            \
    X(HRESULT, CreateOffscreenPlainSurface, (UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*))       \
    X(HRESULT, SetRenderTarget, (DWORD, IDirect3DSurface9*))                                                      \
    X(HRESULT, GetRenderTarget, (DWORD, IDirect3DSurface9**))                                                     \
    X(HRESULT, SetDepthStencilSurface, (IDirect3DSurface9*))                                                      \
    X(HRESULT, GetDepthStencilSurface, (IDirect3DSurface9**))                                                     \
    X(HRESULT, GetTransform, (D3DTRANSFORMSTATETYPE, D3DMATRIX*))                                                 \
    X(HRESULT, MultiplyTransform, (D3DTRANSFORMSTATETYPE, const D3DMATRIX*))                                      \
    X(HRESULT, SetViewport, (const D3DVIEWPORT9*))                                                                \
    X(HRESULT, GetViewport, (D3DVIEWPORT9*))                                                                      \
    X(HRESULT, SetMaterial, (const D3DMATERIAL9*))                                                                \
    X(HRESULT, GetMaterial, (D3DMATERIAL9*))                                                                      \
    X(HRESULT, GetLight, (DWORD, D3DLIGHT9*))                                                                     \
    X(HRESULT, GetLightEnable, (DWORD, WINBOOL*))                                                                 \
    X(HRESULT, SetClipPlane, (DWORD, const float*))                                                               \
    X(HRESULT, GetClipPlane, (DWORD, float*))                                                                     \
    X(HRESULT, GetRenderState, (D3DRENDERSTATETYPE, DWORD*))                                                      \
    X(HRESULT, CreateStateBlock, (D3DSTATEBLOCKTYPE, IDirect3DStateBlock9**))                                     \
    X(HRESULT, BeginStateBlock, ())                                                                               \
    X(HRESULT, EndStateBlock, (IDirect3DStateBlock9**))                                                           \
    X(HRESULT, SetClipStatus, (const D3DCLIPSTATUS9*))                                                            \
    X(HRESULT, GetClipStatus, (D3DCLIPSTATUS9*))                                                                  \
    X(HRESULT, GetTexture, (DWORD, IDirect3DBaseTexture9**))                                                      \
    X(HRESULT, SetTexture, (DWORD, IDirect3DBaseTexture9*))                                                       \
    X(HRESULT, GetTextureStageState, (DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*))                                   \
    X(HRESULT, GetSamplerState, (DWORD, D3DSAMPLERSTATETYPE, DWORD*))                                             \
    X(HRESULT, ValidateDevice, (DWORD*))                                                                          \
    X(HRESULT, SetPaletteEntries, (UINT, const PALETTEENTRY*))                                                    \
    X(HRESULT, GetPaletteEntries, (UINT, PALETTEENTRY*))                                                          \
    X(HRESULT, SetCurrentTexturePalette, (UINT))                                                                  \
    X(HRESULT, GetCurrentTexturePalette, (UINT*))                                                                 \
    X(HRESULT, SetScissorRect, (const RECT*))                                                                     \
    X(HRESULT, GetScissorRect, (RECT*))                                                                           \
    X(HRESULT, SetSoftwareVertexProcessing, (WINBOOL))                                                            \
    X(WINBOOL, GetSoftwareVertexProcessing, ())                                                                   \
    X(HRESULT, SetNPatchMode, (float))                                                                            \
    X(float, GetNPatchMode, ())                                                                                   \
    X(HRESULT, DrawPrimitive, (D3DPRIMITIVETYPE, UINT, UINT))                                                     \
    X(HRESULT, DrawIndexedPrimitive, (D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT))                             \
    X(HRESULT, DrawPrimitiveUP, (D3DPRIMITIVETYPE, UINT, const void*, UINT))                                      \
    X(HRESULT, DrawIndexedPrimitiveUP,                                                                            \
      (D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*, UINT))                            \
    X(HRESULT, ProcessVertices, (UINT, UINT, UINT, IDirect3DVertexBuffer9*, IDirect3DVertexDeclaration9*, DWORD)) \
    X(HRESULT, CreateVertexDeclaration, (const D3DVERTEXELEMENT9*, IDirect3DVertexDeclaration9**))                \
    X(HRESULT, SetVertexDeclaration, (IDirect3DVertexDeclaration9*))                                              \
    X(HRESULT, GetVertexDeclaration, (IDirect3DVertexDeclaration9**))                                             \
    X(HRESULT, GetFVF, (DWORD*))                                                                                  \
    X(HRESULT, CreateVertexShader, (const DWORD*, IDirect3DVertexShader9**))                                      \
    X(HRESULT, SetVertexShader, (IDirect3DVertexShader9*))                                                        \
    X(HRESULT, GetVertexShader, (IDirect3DVertexShader9**))                                                       \
    X(HRESULT, SetVertexShaderConstantF, (UINT, const float*, UINT))                                              \
    X(HRESULT, GetVertexShaderConstantF, (UINT, float*, UINT))                                                    \
    X(HRESULT, SetVertexShaderConstantI, (UINT, const int*, UINT))                                                \
    X(HRESULT, GetVertexShaderConstantI, (UINT, int*, UINT))                                                      \
    X(HRESULT, SetVertexShaderConstantB, (UINT, const WINBOOL*, UINT))                                            \
    X(HRESULT, GetVertexShaderConstantB, (UINT, WINBOOL*, UINT))                                                  \
    X(HRESULT, SetStreamSource, (UINT, IDirect3DVertexBuffer9*, UINT, UINT))                                      \
    X(HRESULT, GetStreamSource, (UINT, IDirect3DVertexBuffer9**, UINT*, UINT*))                                   \
    X(HRESULT, SetStreamSourceFreq, (UINT, UINT))                                                                 \
    X(HRESULT, GetStreamSourceFreq, (UINT, UINT*))                                                                \
    X(HRESULT, SetIndices, (IDirect3DIndexBuffer9*))                                                              \
    X(HRESULT, GetIndices, (IDirect3DIndexBuffer9**))                                                             \
    X(HRESULT, CreatePixelShader, (const DWORD*, IDirect3DPixelShader9**))                                        \
    X(HRESULT, SetPixelShader, (IDirect3DPixelShader9*))                                                          \
    X(HRESULT, GetPixelShader, (IDirect3DPixelShader9**))                                                         \
    X(HRESULT, SetPixelShaderConstantF, (UINT, const float*, UINT))                                               \
    X(HRESULT, GetPixelShaderConstantF, (UINT, float*, UINT))                                                     \
    X(HRESULT, SetPixelShaderConstantI, (UINT, const int*, UINT))                                                 \
    X(HRESULT, GetPixelShaderConstantI, (UINT, int*, UINT))                                                       \
    X(HRESULT, SetPixelShaderConstantB, (UINT, const WINBOOL*, UINT))                                             \
    X(HRESULT, GetPixelShaderConstantB, (UINT, WINBOOL*, UINT))                                                   \
    X(HRESULT, DrawRectPatch, (UINT, const float*, const D3DRECTPATCH_INFO*))                                     \
    X(HRESULT, DrawTriPatch, (UINT, const float*, const D3DTRIPATCH_INFO*))                                       \
    X(HRESULT, DeletePatch, (UINT))                                                                               \
    X(HRESULT, CreateQuery, (D3DQUERYTYPE, IDirect3DQuery9**))

class FakeDevice final : public IDirect3DDevice9, public D3DFake {
public:
    explicit FakeDevice(Environment& environment);

    // Sprites and fonts created on this device that hold device resources.
    int heldD3dxResources = 0;
    std::vector<D3DPRESENT_PARAMETERS> resetParams;
    std::vector<D3DLIGHT9> lights;
    std::vector<std::pair<D3DTRANSFORMSTATETYPE, D3DMATRIX>> transforms;

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT STDMETHODCALLTYPE Present(const RECT* source, const RECT* destination, HWND window,
                                      const RGNDATA* dirty) override;
    HRESULT STDMETHODCALLTYPE BeginScene() override;
    HRESULT STDMETHODCALLTYPE EndScene() override;
    HRESULT STDMETHODCALLTYPE Clear(DWORD rectCount, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override;
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, WINBOOL enable) override;
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override;
    D3D_FAKES_DEVICE_UNEXPECTED(FAKES_DECLARE)
};

// What sprites and fonts share: the device resources they hold between
// creation or OnResetDevice and OnLostDevice.
class DeviceResources {
public:
    void Acquire(IDirect3DDevice9* device, Environment& environment);
    // OnLostDevice (false) and OnResetDevice (true), when `result`, the
    // call's own, succeeded. Returns `result`.
    HRESULT Hold(bool held, HRESULT result);
    bool Held() const { return held_; }

private:
    FakeDevice* device_ = nullptr;
    bool held_ = false;
};

// A D3DX object made on the device: a sprite or a font, which give up
// their device resources on OnLostDevice and take them again on
// OnResetDevice.
template <typename Interface>
class D3DXObjectFake : public Interface, public D3DFake {
public:
    D3DXObjectFake(Environment& environment, std::string name) : D3DFake(environment, std::move(name)) {}

    DeviceResources resources;

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE OnLostDevice() override { return resources.Hold(false, Call("OnLostDevice", "")); }
    HRESULT STDMETHODCALLTYPE OnResetDevice() override { return resources.Hold(true, Call("OnResetDevice", "")); }
};

#define D3D_FAKES_SPRITE_UNEXPECTED(X)                                                                    \
    X(HRESULT, QueryInterface, (REFIID, void**))                                                         \
    X(HRESULT, GetDevice, (IDirect3DDevice9**))                                                          \
    X(HRESULT, GetTransform, (D3DXMATRIX*))                                                              \
    X(HRESULT, SetTransform, (const D3DXMATRIX*))                                                        \
    X(HRESULT, SetWorldViewRH, (const D3DXMATRIX*, const D3DXMATRIX*))                                   \
    X(HRESULT, SetWorldViewLH, (const D3DXMATRIX*, const D3DXMATRIX*))                                   \
    X(HRESULT, Draw, (IDirect3DTexture9*, const RECT*, const D3DXVECTOR3*, const D3DXVECTOR3*, D3DCOLOR)) \
    X(HRESULT, Flush, ())

class FakeSprite final : public D3DXObjectFake<ID3DXSprite> {
public:
    explicit FakeSprite(Environment& environment);

    HRESULT STDMETHODCALLTYPE Begin(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE End() override;
    D3D_FAKES_SPRITE_UNEXPECTED(FAKES_DECLARE)
};

#define D3D_FAKES_FONT_UNEXPECTED(X)                                        \
    X(HRESULT, QueryInterface, (REFIID, void**))                           \
    X(HRESULT, GetDevice, (IDirect3DDevice9**))                            \
    X(HRESULT, GetDescA, (D3DXFONT_DESCA*))                                \
    X(HRESULT, GetDescW, (D3DXFONT_DESCW*))                                \
    X(WINBOOL, GetTextMetricsA, (TEXTMETRICA*))                            \
    X(WINBOOL, GetTextMetricsW, (TEXTMETRICW*))                            \
    X(HDC, GetDC, ())                                                      \
    X(HRESULT, GetGlyphData, (UINT, IDirect3DTexture9**, RECT*, POINT*))   \
    X(HRESULT, PreloadCharacters, (UINT, UINT))                            \
    X(HRESULT, PreloadGlyphs, (UINT, UINT))                                \
    X(HRESULT, PreloadTextA, (const char*, INT))                           \
    X(HRESULT, PreloadTextW, (const WCHAR*, INT))

// One DrawTextA or DrawTextW call. `text` is what D3DX would draw: up to
// the first NUL for a count of -1, else `count` characters.
struct DrawnText {
    std::string sprite; // "sprite", "null" or the pointer
    std::string text;   // DrawTextA: the bytes
    std::wstring wideText;
    INT count;
    RECT rect;
    DWORD format;
    D3DCOLOR color;
};

class FakeFont final : public D3DXObjectFake<ID3DXFont> {
public:
    explicit FakeFont(Environment& environment);

    std::vector<DrawnText> drawn;

    INT STDMETHODCALLTYPE DrawTextA(ID3DXSprite* sprite, const char* text, INT count, RECT* rect, DWORD format,
                                    D3DCOLOR color) override;
    INT STDMETHODCALLTYPE DrawTextW(ID3DXSprite* sprite, const WCHAR* text, INT count, RECT* rect, DWORD format,
                                    D3DCOLOR color) override;
    D3D_FAKES_FONT_UNEXPECTED(FAKES_DECLARE)

private:
    // Logs and keeps one DrawTextA or DrawTextW call; `shownText` is its
    // text as the log shows it.
    INT Draw(const char* method, DrawnText drawnText, const std::string& shownText, const RECT* rect);
};

// The arguments of one D3DXCreateFontA call.
struct FontRequest {
    std::string device;
    INT height;
    UINT width;
    UINT weight;
    UINT mipLevels;
    BOOL italic;
    DWORD charset;
    DWORD precision;
    DWORD quality;
    DWORD pitchAndFamily;
    std::string faceName; // the bytes up to the NUL
};

struct PerspectiveRequest {
    float fovY;
    float aspect;
    float zNear;
    float zFar;
};

struct LookAtRequest {
    D3DXVECTOR3 eye;
    D3DXVECTOR3 at;
    D3DXVECTOR3 up;
};

// One set of fakes and the log they share. The entry points use the
// Environment alive at the time (one at a time).
class Environment : public fakes::CurrentFamily<Environment> {
public:
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    explicit Environment(fakes::Session& session);
    fakes::Session& session;
    fakes::CallLog& log;
    fakes::Failures& failures;

    // What GetAdapterDisplayMode answers when it succeeds.
    D3DDISPLAYMODE displayMode = {1024, 768, 60, D3DFMT_X8R8G8B8};

    // The last of each kind that an entry point or CreateDevice handed out.
    std::unique_ptr<FakeDirect3D> direct3d;
    std::unique_ptr<FakeDevice> device;
    std::unique_ptr<FakeSprite> sprite;
    std::unique_ptr<FakeFont> font;
    // Those handed out before them.
    std::vector<std::unique_ptr<fakes::FakeObject>> earlier;

    std::vector<FontRequest> fontRequests;
    std::vector<PerspectiveRequest> perspectiveRequests;
    std::vector<LookAtRequest> lookAtRequests;
    // Every matrix the D3DX matrix functions wrote, in order. Each is
    // different (element k of the n-th is 1000 * n + k), so a test can tell
    // which of them reached the device.
    std::vector<D3DMATRIX> madeMatrices;

    // The name of a fake, "null", or the pointer as hex.
    std::string NameOf(const void* object) const;

};

} // namespace d3d_fakes
