// The temporary render-target pool through a real context: what the warm-up leaves, reuse by
// exact size in release order, the run-time allocation warning, and how leases give targets
// back (explicitly, on destruction, on move, never twice).
#include "gfx/gl_stage.h"
#include "gfx/targets/render_target_fbo.h"
#include "support/capture_stream.h"

namespace {

using Pool = GfxTest;

std::pair<int32_t, int32_t> size_of(const cRenderTarget_fbo* t) { return {t->width(), t->height()}; }

TEST_F(Pool, warm_up_pools_one_frame_of_targets_smallest_first) {
    const cRenderTargetPool& pool = ctx->pool();
    EXPECT_EQ(pool.free_count(), 9u);
    EXPECT_EQ(pool.outstanding(), 0);
    EXPECT_EQ(pool.high_water_mark(), 9);
    EXPECT_TRUE(pool.start_up_finished());

    std::vector<std::pair<int32_t, int32_t>> sizes;
    for (const cRenderTarget_fbo* t : pool.free_targets()) {
        sizes.push_back(size_of(t));
        EXPECT_TRUE(t->has_depth());
        EXPECT_NE(t->framebuffer(), 0u);
    }
    const std::vector<std::pair<int32_t, int32_t>> expected = {{160, 90},  {160, 90},  {320, 180},
                                                               {320, 180}, {640, 360}, {640, 360},
                                                               {640, 360}, {1280, 720}, {1280, 720}};
    EXPECT_EQ(sizes, expected);
}

TEST_F(Pool, a_third_full_size_lease_is_made_once_with_one_warning) {
    cCaptureStream out(STDOUT_FILENO);
    for (int frame = 0; frame < 3; ++frame) {
        cRenderTargetLease a = ctx->acquire_render_target(1280, 720);
        cRenderTargetLease b = ctx->acquire_render_target(1280, 720);
        cRenderTargetLease c = ctx->acquire_render_target(1280, 720);
        EXPECT_NE(a.target, c.target);
        EXPECT_NE(b.target, c.target);
        EXPECT_EQ(ctx->pool().outstanding(), 3);
    }
    EXPECT_EQ(out.stop(), "# performance-warning: allocated rendertarget runtime: 1280x720\n");
    EXPECT_EQ(ctx->pool().free_count(), 10u);
    EXPECT_EQ(ctx->pool().high_water_mark(), 9) << "three at once never beat the warm-up's nine";
}

TEST_F(Pool, free_targets_of_a_size_come_back_in_release_order) {
    cRenderTargetLease a = ctx->acquire_render_target(640, 360);
    cRenderTargetLease b = ctx->acquire_render_target(640, 360);
    iRenderTarget* first = a.target;
    iRenderTarget* second = b.target;
    ctx->release_render_target(b);
    ctx->release_render_target(a);
    // The one free 640x360 that was never leased comes first, then b's, then a's.
    cRenderTargetLease x = ctx->acquire_render_target(640, 360);
    cRenderTargetLease y = ctx->acquire_render_target(640, 360);
    cRenderTargetLease z = ctx->acquire_render_target(640, 360);
    EXPECT_NE(x.target, first);
    EXPECT_NE(x.target, second);
    EXPECT_EQ(y.target, second);
    EXPECT_EQ(z.target, first);
}

TEST_F(Pool, releasing_empties_the_lease_and_an_empty_lease_changes_nothing) {
    cRenderTargetLease lease = ctx->acquire_render_target(426, 240);
    iRenderTarget* target = lease.target;
    ctx->release_render_target(lease);
    EXPECT_EQ(lease.target, nullptr);
    EXPECT_EQ(lease.owner, nullptr);
    EXPECT_EQ(ctx->pool().outstanding(), 0);
    const uint32_t free_count = ctx->pool().free_count();

    ctx->release_render_target(lease);  // given back already
    cRenderTargetLease never;
    ctx->release_render_target(never);
    EXPECT_EQ(ctx->pool().outstanding(), 0);
    EXPECT_EQ(ctx->pool().free_count(), free_count);

    cRenderTargetLease again = ctx->acquire_render_target(426, 240);
    EXPECT_EQ(again.target, target) << "the only free target of that size";
}

TEST_F(Pool, moving_a_lease_moves_the_duty_to_give_it_back) {
    cRenderTargetLease a = ctx->acquire_render_target(320, 180);
    cRenderTargetLease moved(std::move(a));
    EXPECT_EQ(a.target, nullptr);
    EXPECT_EQ(ctx->pool().outstanding(), 1);

    cRenderTargetLease other = ctx->acquire_render_target(160, 90);
    other = std::move(moved);  // other's own target goes back first
    EXPECT_EQ(ctx->pool().outstanding(), 1);
    other.release();
    EXPECT_EQ(ctx->pool().outstanding(), 0);
    EXPECT_EQ(ctx->pool().free_count(), 9u);
}

// Another implementation of the interface, as a module might hand back by mistake.
class cForeignTarget final : public iRenderTarget {
public:
    void create() override {}
    void bind(igfxContext&, int32_t) override {}
    void unbind(igfxContext&) override {}
    cTexture* texture() override { return &texture_; }

private:
    cTexture texture_;
};

TEST_F(Pool, a_target_that_no_pool_made_is_refused) {
    cForeignTarget stranger;
    cRenderTargetLease odd(&stranger, ctx.get());
    cCaptureStream err(STDERR_FILENO);
    ctx->release_render_target(odd);
    EXPECT_NE(err.stop().find("## ERROR, rendertargetmanager: "), std::string::npos);
    EXPECT_EQ(odd.target, nullptr);
    EXPECT_EQ(ctx->pool().free_count(), 9u);
    EXPECT_EQ(ctx->pool().outstanding(), 0);
}

}  // namespace
