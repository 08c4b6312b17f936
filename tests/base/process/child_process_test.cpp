#include "base/process/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

// Pipes both ways, standard error beside standard output, the environment and folder asked for,
// and how the program ended.
TEST(ChildProcess, pipes_environment_folder_and_status) {
    cTempDir dir;
    cChildOptions options;
    options.input.kind = cChildStream::pipe;
    options.output.kind = cChildStream::pipe;
    options.errors.kind = cChildStream::pipe;
    options.folder = dir.path();
    options.set_env = {"CHILD_TEST_WORD=hello"};
    cChildProcess child;
    ASSERT_TRUE(child.start({"/bin/sh", "-c", "read line; echo \"$line $CHILD_TEST_WORD\"; pwd; echo oops >&2; exit 7"},
                            options));
    ASSERT_EQ(::write(child.input(), "in\n", 3), 3);
    child.close_input();
    std::string out, err;
    EXPECT_TRUE(child.collect(&out, &err));
    EXPECT_TRUE(child.wait());
    EXPECT_EQ(out, "in hello\n" + std::filesystem::canonical(dir.path()).string() + "\n");
    EXPECT_EQ(err, "oops\n");
    EXPECT_TRUE(child.end().exited);
    EXPECT_EQ(child.end().status, 7);
    EXPECT_FALSE(child.end().timed_out);

    cChildProcess killed;
    ASSERT_TRUE(killed.start({"/bin/sh", "-c", "kill -TERM $$"}));
    EXPECT_TRUE(killed.wait());
    EXPECT_FALSE(killed.end().exited);
    EXPECT_EQ(killed.end().signal, SIGTERM);

    cChildProcess missing;
    EXPECT_FALSE(missing.start({dir / "no_such_program"}));
    EXPECT_EQ(missing.start_error(), ENOENT);
    EXPECT_FALSE(missing.pipe_failed());
}

// Past its time limit a child in a group of its own is killed with everything it started, and
// nothing waits on the pipe that a grandchild still held.
TEST(ChildProcess, the_time_limit_kills_the_whole_group) {
    cChildOptions options;
    options.own_group = true;
    options.output.kind = cChildStream::pipe;
    cChildProcess child;
    ASSERT_TRUE(child.start({"/bin/sh", "-c", "sleep 300 & echo started; wait"}, options));
    std::string out;
    EXPECT_FALSE(child.collect(&out, nullptr, deadline_after(0.5)));
    EXPECT_EQ(out, "started\n");
    // Every process of the group holds the pipe: it ends once the last of them is gone.
    const int watch = ::dup(child.output());
    const cChildEnd& end = child.wait_or_kill(deadline_after(0.0));
    EXPECT_TRUE(end.timed_out);
    EXPECT_EQ(end.signal, SIGKILL);
    std::string rest;
    EXPECT_TRUE(read_pipes({{watch, &rest}}, deadline_after(60.0))) << "a process of the group outlived the time limit";
    ::close(watch);
}
