// The temporary render-target pool: depth-carrying targets leased by exact size, taken back on
// release and kept for reuse until the pool is destroyed. Common sizes are made at start-up;
// every target made after that is reported as a performance warning.
// Depends on cRenderTarget_fbo; never frees a target before its own destruction.
#pragma once
#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include "render_target_lease.h"

class cRenderTarget_fbo;
class igfxContext;

class cRenderTargetPool {
public:
    cRenderTargetPool() = default;
    // Reports a lease still out and the statistics, then destroys every free target.
    ~cRenderTargetPool();
    cRenderTargetPool(const cRenderTargetPool&) = delete;
    cRenderTargetPool& operator=(const cRenderTargetPool&) = delete;

    // Fills out with a target of exactly width x height, owned by owner.
    void acquire(cRenderTargetLease& out, igfxContext* owner, int32_t width, int32_t height);
    // Takes the lease's target back and empties the lease; an empty lease changes nothing.
    void release(cRenderTargetLease& lease);
    // Makes the targets of one frame of the shipped scene for a render size of W x H.
    void warm_up(igfxContext& ctx, int32_t render_width, int32_t render_height);

    uint32_t free_count() const { return free_count_; }
    int32_t outstanding() const { return outstanding_; }
    int32_t high_water_mark() const { return high_water_mark_; }
    bool start_up_finished() const { return start_up_finished_; }
    // The free targets from the front of the list, for inspection.
    std::vector<const cRenderTarget_fbo*> free_targets() const;

private:
    struct cFreeEntry {
        int64_t key;
        cRenderTarget_fbo* target;
    };

    std::list<cFreeEntry> free_list_;
    uint32_t free_count_ = 0;
    int32_t outstanding_ = 0;
    int32_t high_water_mark_ = 0;
    bool start_up_finished_ = false;
};
