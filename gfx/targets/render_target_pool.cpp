// Leasing, returning and warming up pooled render targets, and the pool's shutdown report.
// Depends on cRenderTarget_fbo and the targets' configuration; checks no framebuffer.
#include "gfx/targets/render_target_pool.h"

#include <iostream>

#include "gfx/targets/render_target_fbo.h"
#include "gfx/targets/targets_config.h"
#include "igfx_context.h"

cRenderTargetPool::~cRenderTargetPool() {
    if (outstanding_ != 0)
        std::cerr << "## ERROR, rendertargetmanager: rendertarget still bound while exiting..." << std::endl;
    std::cout << "# rrt-manager: number of tmp-rt allocated: " << free_count_ << std::endl;
    std::cout << "# rtt-manager: maximum concurrently allocated RTs: " << high_water_mark_ << std::endl;
    for (cFreeEntry& entry : free_list_) delete entry.target;
    free_list_.clear();
    free_count_ = 0;
}

void cRenderTargetPool::acquire(cRenderTargetLease& out, igfxContext* owner, int32_t width, int32_t height) {
    if (++outstanding_ > high_water_mark_) high_water_mark_ = outstanding_;

    const int64_t key = targets_config::size_key(width, height);
    cRenderTarget_fbo* target = nullptr;
    for (auto it = free_list_.begin(); it != free_list_.end(); ++it) {
        if (it->key != key) continue;
        target = it->target;
        free_list_.erase(it);
        --free_count_;
        break;
    }
    if (!target) {
        if (start_up_finished_)
            std::cout << "# performance-warning: allocated rendertarget runtime: " << width << "x" << height
                      << std::endl;
        target = new cRenderTarget_fbo(width, height, true);
        target->create();
    }
    out.target = target;
    out.owner = owner;
}

void cRenderTargetPool::release(cRenderTargetLease& lease) {
    if (!lease.target) return;
    auto* target = dynamic_cast<cRenderTarget_fbo*>(lease.target);
    if (!target) {
        // Only pooled targets can come back; anything else is not ours to keep or delete.
        std::cerr << "## ERROR, rendertargetmanager: released a target that no pool made; ignored" << std::endl;
    } else {
        --outstanding_;
        free_list_.push_back({targets_config::size_key(target->width(), target->height()), target});
        ++free_count_;
    }
    lease.target = nullptr;
    lease.owner = nullptr;
}

void cRenderTargetPool::warm_up(igfxContext& ctx, int32_t render_width, int32_t render_height) {
    cRenderTargetLease leases[targets_config::warm_up_total];
    int32_t taken = 0;
    for (const auto& size : targets_config::warm_up_sizes)
        for (int32_t i = 0; i < size.count && taken < targets_config::warm_up_total; ++i)
            acquire(leases[taken++], &ctx, render_width / size.divisor, render_height / size.divisor);
    start_up_finished_ = true;
    while (taken > 0) release(leases[--taken]);
}

std::vector<const cRenderTarget_fbo*> cRenderTargetPool::free_targets() const {
    std::vector<const cRenderTarget_fbo*> targets;
    for (const cFreeEntry& entry : free_list_) targets.push_back(entry.target);
    return targets;
}
