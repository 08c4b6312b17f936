// The control queue between a tool's thread and the show: requests that supersede each other
// wait as one, so a flood of them is applied as a few between two frames.
#include <gtest/gtest.h>

#include <string>

#include "authoring/dev/dev_control_queue.h"

TEST(dev_control, requests_that_supersede_each_other_wait_as_one_in_the_order_of_their_last) {
    cDevControl control;
    for (int i = 0; i < 1000; ++i) control.request_seek(i);
    control.request_pause(true);
    control.request_toggle_pause();  // the pause turned round: playing
    control.request_loop(1000, 2000);
    for (int i = 0; i < 100; ++i) control.request_tracks("track t" + std::to_string(i) + "\n  0:0 1 step\n");
    control.request_loop(3000, 4000);
    control.request_toggle_pause();  // paused
    control.request_toggle_pause();  // playing again
    const std::vector<cDevRequest> taken = control.take_requests();
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken[0].kind, cDevRequest::seek);
    EXPECT_EQ(taken[0].first_ms, 999);
    EXPECT_EQ(taken[1].kind, cDevRequest::tracks);
    EXPECT_EQ(taken[1].text, "track t99\n  0:0 1 step\n");
    EXPECT_EQ(taken[2].kind, cDevRequest::loop);
    EXPECT_EQ(taken[2].first_ms, 3000);
    EXPECT_EQ(taken[2].second_ms, 4000);
    EXPECT_EQ(taken[3].kind, cDevRequest::pause);
    EXPECT_FALSE(taken[3].paused);

    // Two toggles with nothing between them to turn round leave the state as it is.
    control.request_toggle_pause();
    control.request_toggle_pause();
    EXPECT_TRUE(control.take_requests().empty());
    control.request_toggle_pause();
    const std::vector<cDevRequest> one = control.take_requests();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].kind, cDevRequest::toggle_pause) << "a toggle alone stays a toggle";

    // Previews wait as one, each track with its newest keys: a drag over two tracks, then over
    // one of them, keeps the other's.
    control.request_preview({{"kick", {{0, 1.0f, 0}}}});
    control.request_preview({{"kick", {{0, 2.0f, 0}}}, {"word_t", {{8, 3.0f, 1}}}});
    control.request_preview({{"kick", {{0, 4.0f, 0}, {8, 5.0f, 0}}}});
    const std::vector<cDevRequest> previews = control.take_requests();
    ASSERT_EQ(previews.size(), 1u);
    ASSERT_EQ(previews[0].keys.size(), 2u);
    EXPECT_EQ(previews[0].keys[0].name, "kick");
    ASSERT_EQ(previews[0].keys[0].keys.size(), 2u);
    EXPECT_EQ(previews[0].keys[0].keys[1].value, 5.0f);
    EXPECT_EQ(previews[0].keys[1].name, "word_t");
    EXPECT_EQ(previews[0].keys[1].keys[0].value, 3.0f);
}
