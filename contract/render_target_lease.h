// cRenderTargetLease: a render target borrowed from the host's pool for the length of a scope.
// Two pointers, the target and the context that owns the pool. Destroying a lease whose owner
// is set gives the target back, so every path out of a pass returns its targets. The lease is
// move-only: a copy would give the same target back twice.
#pragma once

class iRenderTarget;
class igfxContext;

class cRenderTargetLease {
public:
    iRenderTarget* target = nullptr;
    igfxContext* owner = nullptr;

    cRenderTargetLease() = default;
    cRenderTargetLease(iRenderTarget* t, igfxContext* o) : target(t), owner(o) {}
    cRenderTargetLease(const cRenderTargetLease&) = delete;
    cRenderTargetLease& operator=(const cRenderTargetLease&) = delete;
    inline cRenderTargetLease(cRenderTargetLease&& other) noexcept;
    inline cRenderTargetLease& operator=(cRenderTargetLease&& other) noexcept;
    inline ~cRenderTargetLease();

    // Gives the target back now (nothing happens for an empty lease).
    inline void release();
};

// The inline members need the complete igfxContext; it defines them.
#include "igfx_context.h"
