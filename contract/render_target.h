// iRenderTarget: an off-screen colour image (with a depth buffer) that modules lease from
// the host's pool, draw into and then sample as a rectangle texture. The slot order is
// plug-in ABI; the destructor is deliberately the last slot.
#pragma once
#include <cstdint>

class igfxContext;
struct cTexture;

class iRenderTarget {
public:
    virtual void create() = 0;                                    // slot 0
    virtual void bind(igfxContext& ctx, int32_t clear) = 0;       // slot 1: clear == 1 clears
    virtual void unbind(igfxContext& ctx) = 0;                    // slot 2
    virtual cTexture* texture() = 0;                              // slot 3: stable address
    virtual ~iRenderTarget() = default;                           // slot 4
};
