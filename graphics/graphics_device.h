// The Direct3D 9 objects of the program: Direct3D, the device of the main
// window and the sprite the text is drawn through.
#pragma once

#include <d3d9.h>
#include <d3dx9.h>

class GraphicsDevice {
public:
    // Creates the Direct3D object, the device (hardware vertex processing,
    // else software) and the sprite, for the main window. Reports nothing:
    // without a device, `device` stays null and font creation fails next.
    GraphicsDevice(bool windowed, int width, int height);
    ~GraphicsDevice();

    GraphicsDevice(const GraphicsDevice&) = delete;
    GraphicsDevice& operator=(const GraphicsDevice&) = delete;

    D3DCOLOR clearColor;
    UINT adapter;
    float width;
    float height;
    IDirect3D9* direct3d;
    IDirect3DDevice9* device;
    D3DPRESENT_PARAMETERS presentParams;
    D3DLIGHT9 light;
    ID3DXSprite* sprite;
};

extern GraphicsDevice* g_graphics;

// The device of g_graphics, or null when there is none.
IDirect3DDevice9* CurrentDevice();

// Ends the scene and presents it; after a failed present, resets the device
// so that a lost device comes back.
void EndFrame();
