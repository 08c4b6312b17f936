// cTexture: the texture record shared by host and modules.
// Plain data, four 32-bit fields; the layout is part of the plug-in ABI.
// Made and owned by the host (texture manager or a render target); modules never free one.
#pragma once
#include <cstdint>

struct cTexture {
    uint32_t target = 0;  // GL_TEXTURE_1D, _2D, _3D or _RECTANGLE; 0 when the kind was unknown
    uint32_t name = 0;    // GL texture name
    int32_t width = 0;    // pixels
    int32_t height = 0;   // pixels (the creation height, also for 1D textures)
};

static_assert(sizeof(cTexture) == 16, "cTexture is four 32-bit fields");
