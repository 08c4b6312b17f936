#include "base/log/console.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <vector>

#include "support/capture_stream.h"
#include "support/temp_dir.h"

TEST(Console, redirect_points_both_streams_at_log_files_in_the_current_directory) {
    cTempDir dir;
    // In a child, so that the test runner's own streams stay where they are.
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.path().c_str()) != 0) ::_exit(3);
        bool ok = redirect_console();
        std::cout << "to out" << std::endl;
        std::cerr << "to err" << std::endl;
        std::printf("printf out\n");
        std::fflush(stdout);
        ::_exit(ok ? 0 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(slurp(dir / "stdout.txt"), "to out\nprintf out\n");
    EXPECT_EQ(slurp(dir / "stderr.txt"), "to err\n");
}

TEST(Console, a_stream_closed_at_start_still_gets_its_log_file) {
    // A launcher may start the player with either stream, or both, already closed; the file
    // opened for one then takes the closed descriptor's own number.
    const std::vector<std::vector<int>> cases = {{STDOUT_FILENO}, {STDERR_FILENO}, {STDOUT_FILENO, STDERR_FILENO}};
    for (const auto& closed : cases) {
        cTempDir dir;
        pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.path().c_str()) != 0) ::_exit(3);
            for (int fd : closed) ::close(fd);
            bool ok = redirect_console();
            std::cout << "to out" << std::endl;
            std::cerr << "to err" << std::endl;
            ::_exit(ok ? 0 : 2);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        const std::string which = closed.size() == 2 ? "both" : closed[0] == STDOUT_FILENO ? "stdout" : "stderr";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << which << " closed";
        EXPECT_EQ(slurp(dir / "stdout.txt"), "to out\n") << which << " closed";
        EXPECT_EQ(slurp(dir / "stderr.txt"), "to err\n") << which << " closed";
    }
}

TEST(Console, owner_only_logs_are_for_their_owner_alone_also_when_they_were_there_before) {
    cTempDir dir;
    dir.write("stdout.txt", "an earlier run\n");
    ::chmod((dir / "stdout.txt").c_str(), 0644);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.path().c_str()) != 0) ::_exit(3);
        ::umask(0);
        ::_exit(redirect_console(true) ? 0 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* name : {"stdout.txt", "stderr.txt"}) {
        struct stat info {};
        ASSERT_EQ(::stat((dir / name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }
    EXPECT_EQ(slurp(dir / "stdout.txt"), "");
}

TEST(Console, a_start_directory_that_cannot_hold_the_logs_keeps_the_original_streams) {
    cTempDir dir;
    ::chmod(dir.path().c_str(), 0555);
    cCaptureStream err(STDERR_FILENO);
    pid_t pid = ::fork();
    if (pid == 0) {
        // root writes anywhere: become an ordinary user for the check
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(4);
        if (::chdir(dir.path().c_str()) != 0) ::_exit(3);
        bool ok = redirect_console();
        std::cerr << "still here" << std::endl;
        ::_exit(ok ? 0 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::string text = err.stop();
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(text.find("# WARNING: cannot create \"stderr.txt\""), std::string::npos) << text;
    EXPECT_NE(text.find("still here"), std::string::npos);
}

TEST(Console, assert_failed_without_a_terminal_writes_its_line_and_returns) {
    cCaptureStream err(STDERR_FILENO);
    assert_failed("wtf");
    assert_failed(nullptr);
    EXPECT_EQ(err.stop(), "## ASSERT FAILED: wtf\n");
}

namespace {
// The empty asm statements keep the calls from becoming tail jumps, which leave no frame.
[[gnu::noinline]] void innermost_frame() {
    print_call_stack();
    asm volatile("");
}
[[gnu::noinline]] void middle_frame() {
    innermost_frame();
    asm volatile("");
}
}  // namespace

TEST(Console, call_stack_prints_the_frames_that_have_source_lines_innermost_first) {
    cCaptureStream err(STDERR_FILENO);
    middle_frame();
    std::string text = err.stop();
    ASSERT_EQ(text.rfind("## CALLSTACK\n", 0), 0u) << text;
    // Every frame printed at all has a line: "\t!name() Line N".
    std::istringstream lines(text.substr(13));
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.rfind("() Line ");
        EXPECT_TRUE(line.rfind("\t!", 0) == 0 && at != std::string::npos && at > 2 &&
                    line.find_first_not_of("0123456789", at + 8) == std::string::npos && line.size() > at + 8)
            << line;
    }
    size_t inner = text.find("innermost_frame() Line ");
    size_t middle = text.find("middle_frame() Line ");
#if DEMO_TEST_LINE_TABLES
    ASSERT_NE(inner, std::string::npos) << text;
    ASSERT_NE(middle, std::string::npos) << text;
    EXPECT_LT(inner, middle);
#else
    // Built without debug information: the symbols are known, their lines are not, and frames
    // without a line are skipped.
    EXPECT_EQ(inner, std::string::npos) << text;
    EXPECT_EQ(middle, std::string::npos) << text;
#endif
}
