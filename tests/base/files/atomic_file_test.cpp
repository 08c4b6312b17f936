#include "base/files/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>

#include "base/files/file_read.h"
#include "support/temp_dir.h"

namespace {

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

mode_t current_umask() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// The registry of a process that removes its temporaries when it dies: what it holds now.
std::vector<std::string> g_held;
int hold(const std::string& path) {
    // The name is held before the file is made, so a death in between leaves nothing.
    EXPECT_FALSE(std::filesystem::exists(path)) << path;
    g_held.push_back(path);
    return static_cast<int>(g_held.size()) - 1;
}
void release(int slot) { g_held.at(static_cast<size_t>(slot)).clear(); }

}  // namespace

// A new file's mode is the umask's share of the one asked for; a replaced file keeps its own;
// an exact mode is exact. Placement without replacing leaves a file made meanwhile alone, and no
// failure leaves a temporary behind.
TEST(AtomicFile, modes_placement_and_nothing_left_behind) {
    cTempDir dir;
    int code = -1;
    ASSERT_TRUE(write_file_atomically(dir / "new.txt", "fresh", code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(slurp(dir / "new.txt"), "fresh");
    EXPECT_EQ(mode_of(dir / "new.txt"), 0666 & ~current_umask());

    const std::string kept = dir.write("kept.txt", "old");
    ASSERT_EQ(::chmod(kept.c_str(), 0600), 0);
    ASSERT_TRUE(write_file_atomically(kept, "new", code));
    EXPECT_EQ(slurp(kept), "new");
    EXPECT_EQ(mode_of(kept), 0600u);

    cAtomicWriteOptions exact;
    exact.exact_mode = 0640;
    exact.durable = true;
    ASSERT_TRUE(write_file_atomically(kept, "exact", code, exact));
    EXPECT_EQ(mode_of(kept), 0640u);

    // Placement that replaces nothing: the file made meanwhile stays, and the temporary goes.
    {
        cAtomicFile late(dir / "late.txt");
        ASSERT_TRUE(late.create());
        ASSERT_TRUE(late.write("mine"));
        dir.write("late.txt", "somebody else's");
        EXPECT_FALSE(late.commit(false));
        EXPECT_EQ(late.error(), EEXIST);
    }
    EXPECT_EQ(slurp(dir / "late.txt"), "somebody else's");

    // A target that is a folder with something in it cannot be replaced.
    dir.write("busy/inside.txt", "x");
    EXPECT_FALSE(write_file_atomically(dir / "busy", "bytes", code));
    EXPECT_NE(code, 0);
    EXPECT_EQ(file_names_in(dir.path()), (std::vector<std::string>{"busy", "kept.txt", "late.txt", "new.txt"}));

    // The temporaries are held by the registry from before they exist until they are placed.
    static const cTempRegistry registry{hold, release};
    cAtomicWriteOptions held;
    held.registry = &registry;
    ASSERT_TRUE(write_file_atomically(dir / "held.txt", "held", code, held));
    ASSERT_EQ(g_held.size(), 1u);
    EXPECT_EQ(g_held[0], "") << "released once in place";
    EXPECT_EQ(slurp(dir / "held.txt"), "held");
}

// What a reader takes besides a plain file, and how much of it.
TEST(ReadWholeFile, streams_limits_cancels_and_failures) {
    cTempDir dir;
    const std::string fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string out = "unchanged";
    // Refused at once, never waited on.
    cReadOutcome refused = read_whole_file(fifo, out, cReadOptions{});
    EXPECT_EQ(refused.failure, cReadOutcome::not_regular);
    EXPECT_EQ(refused.reason(), "it is not a regular file");
    // Asked for, it is read to its end.
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        EXPECT_EQ(::write(fd, "through a pipe", 14), 14);
        ::close(fd);
    });
    cReadOptions streams;
    streams.streams_too = true;
    EXPECT_TRUE(read_whole_file(fifo, out, streams).ok());
    writer.join();
    EXPECT_EQ(out, "through a pipe");

    const std::string file = dir.write("big.bin", std::string(200000, 'x') + "tail");
    cReadOptions prefix;
    prefix.max_bytes = 100001;
    ASSERT_TRUE(read_whole_file(file, out, prefix).ok());
    EXPECT_EQ(out.size(), 100001u);

    std::atomic<bool> cancelled{true};
    cReadOptions cancel;
    cancel.cancelled = &cancelled;
    out = "unchanged";
    EXPECT_EQ(read_whole_file(file, out, cancel).failure, cReadOutcome::cancelled);
    EXPECT_EQ(out, "unchanged");

    const cReadOutcome missing = read_whole_file(dir / "none", out, cReadOptions{});
    EXPECT_EQ(missing.code, ENOENT) << "the system's errno, for callers that name it in its words";
    EXPECT_EQ(missing.reason(), "it does not exist");
    EXPECT_EQ(read_whole_file(dir.path(), out, cReadOptions{}).failure, cReadOutcome::directory);
    EXPECT_EQ(out, "unchanged");
}
