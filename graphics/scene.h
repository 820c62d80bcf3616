// Per-frame device state: the fixed render, texture-stage, sampler and
// lighting state, the projection, light 0 and the view.
#pragma once

#include <d3dx9.h>

// Clears the back buffer, begins the scene and sends the fixed state and a
// right-handed perspective projection.
void BeginFrame(float zNear, float zFar, float fovDegrees);

// Light 0 shines along -direction.
void SetDirectionalLight(D3DXVECTOR3 direction);

// Looks from eye at target, with +y up.
void SetCamera(D3DXVECTOR3 eye, D3DXVECTOR3 target);
