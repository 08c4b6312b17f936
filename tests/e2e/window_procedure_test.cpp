// The host's window-procedure table: which messages end the process and which change nothing.
#include <gtest/gtest.h>

#include "host/app/demo_host.h"

namespace {

cWindowMessage message(cWindowMessage::kind_t kind, int32_t key = 0) {
    cWindowMessage m;
    m.kind = kind;
    m.key = key;
    return m;
}

}  // namespace

TEST(WindowProcedure, escape_q_capital_q_and_close_end_the_process_with_status_0) {
    cWindow window;
    EXPECT_EXIT(host_window_procedure(window, message(cWindowMessage::key_down, 27)), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(host_window_procedure(window, message(cWindowMessage::character, 'q')), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(host_window_procedure(window, message(cWindowMessage::character, 'Q')), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(host_window_procedure(window, message(cWindowMessage::close_request)), testing::ExitedWithCode(0), "");
}

TEST(WindowProcedure, space_other_keys_characters_and_focus_change_nothing) {
    cWindow window;
    for (int32_t key : {32, 81, 65, 13, 0})
        EXPECT_EQ(host_window_procedure(window, message(cWindowMessage::key_down, key)), 0) << key;
    for (int32_t c : {32, 120, 119, 49})
        EXPECT_EQ(host_window_procedure(window, message(cWindowMessage::character, c)), 0) << c;
    EXPECT_EQ(host_window_procedure(window, message(cWindowMessage::focus_gained)), 0);
    EXPECT_EQ(host_window_procedure(window, message(cWindowMessage::focus_lost)), 0);
    EXPECT_EQ(host_window_procedure(window, message(cWindowMessage::other)), 0);
}

TEST(WindowProcedure, a_resize_asks_for_a_repaint) {
    cWindow window;
    EXPECT_FALSE(window.repaint_requested);
    EXPECT_EQ(host_window_procedure(window, message(cWindowMessage::resized)), 0);
    EXPECT_TRUE(window.repaint_requested);
}
