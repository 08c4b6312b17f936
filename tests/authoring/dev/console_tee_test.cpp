// The development mode's console over a log file that stops taking lines, as on a full disk
// (a file size limit stands in for it: the same failed writes, without a file system to fill):
// the terminal still gets every line, in order, and lines reach the file again once it takes
// them. In a child process, whose standard output and error are pipes read by the test.
#include "authoring/dev/console_tee.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "support/temp_dir.h"

namespace {

std::string read_all(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(got));
    return text;
}

}  // namespace

TEST(ConsoleTee, a_log_file_that_takes_no_more_leaves_every_line_on_the_terminal) {
    cTempDir dir;
    const std::string first = "# note: this line fits\n";  // 23 bytes
    const std::string second = "## ERROR: " + std::string(60, 'x') + "\n";  // 71 bytes
    const std::string third = "# note: still reported\n";
    const std::string fourth = "# note: room again\n";
    int out[2], err[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(err), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
        if (::chdir(dir.path().c_str()) != 0) ::_exit(3);
        // Files may grow to 64 bytes; writing past that fails (and raises nothing).
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64, RLIM_INFINITY};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || !redirect_console_with_tee()) ::_exit(4);
        std::cerr << first << second << third;
        limit.rlim_cur = RLIM_INFINITY;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(5);
        std::cerr << fourth;
        std::cout << "# note: out\n";
        std::exit(std::cerr.good() ? 0 : 6);
    }
    ::close(out[1]);
    ::close(err[1]);
    const std::string terminal_err = read_all(err[0]);
    const std::string terminal_out = read_all(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << terminal_err;
    EXPECT_EQ(terminal_err, first + second + third + fourth);
    EXPECT_EQ(terminal_out, "# note: out\n");
    // The file took 64 bytes (the first line and 41 bytes of the second), then the fourth line.
    EXPECT_EQ(slurp(dir / "stderr.txt"), first + second.substr(0, 41) + fourth);
}
