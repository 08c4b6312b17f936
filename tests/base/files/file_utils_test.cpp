#include "base/files/file_utils.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/capture_stream.h"
#include "support/temp_dir.h"

namespace {

// Runs the body with the current directory set to dir, and restores it.
template <typename F>
void in_directory(const std::string& dir, F body) {
    std::string before = current_directory();
    ASSERT_TRUE(set_current_directory(dir));
    body();
    ASSERT_TRUE(set_current_directory(before));
}

}  // namespace

TEST(FilePaths, split_keeps_empty_pieces_one_more_than_delimiters) {
    EXPECT_EQ(split("a,b", ","), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(split(",a,,", ","), (std::vector<std::string>{"", "a", "", ""}));
    EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(split("a b\tc", " \t"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(FilePaths, file_name_and_extension_are_the_last_pieces) {
    EXPECT_EQ(file_name_of("bin/dll_cache/"), "");
    EXPECT_EQ(file_name_of("bin\\render_a.so"), "render_a.so");
    EXPECT_EQ(file_name_of("a/b\\c.so"), "c.so");
    EXPECT_EQ(extension_of("duck.obj"), "obj");
    EXPECT_EQ(extension_of("a.tar.gz"), "gz");
    EXPECT_EQ(extension_of("model"), "model");
}

TEST(FilePaths, absolute_path_joins_onto_the_current_directory) {
    cTempDir dir;
    std::string real = std::filesystem::canonical(dir.path()).string();
    in_directory(dir.path(), [&] {
        EXPECT_EQ(absolute_path("data/muzak/recut.mp3"), real + "/data/muzak/recut.mp3");
        EXPECT_EQ(absolute_path("data\\muzak\\recut.mp3"), real + "/data/muzak/recut.mp3");
        EXPECT_EQ(absolute_path("bin/dll_cache/"), real + "/bin/dll_cache/");
        EXPECT_EQ(absolute_path("/already/absolute"), "/already/absolute");
    });
}

TEST(FileSearch, finds_matching_files_sorted_and_never_directories) {
    cTempDir dir;
    dir.write("render_b.so", "b");
    dir.write("render_a.so", "a");
    dir.write("other.so", "o");
    std::filesystem::create_directory(dir / "render_dir.so");
    std::vector<std::string> found{"kept"};
    find_files(dir / "render*.so", found);
    EXPECT_EQ(found, (std::vector<std::string>{"kept", "render_a.so", "render_b.so"}));

    std::vector<std::string> none{"kept"};
    find_files(dir / "nothing*.so", none);
    find_files(dir / "missing_dir/*.so", none);
    EXPECT_EQ(none, (std::vector<std::string>{"kept"}));
}

TEST(FileCopy, copies_replaces_and_refuses_as_asked) {
    cTempDir dir;
    std::string a = dir.write("a.bin", std::string("\0\1\2xyz", 6));
    std::string b = dir.write("b.bin", "old contents");
    dir.write("c.bin.partial", "a file of the user's");
    EXPECT_TRUE(copy_file(a, dir / "c.bin", false));
    EXPECT_EQ(slurp(dir / "c.bin"), std::string("\0\1\2xyz", 6));
    EXPECT_EQ(slurp(dir / "c.bin.partial"), "a file of the user's") << "the copy writes under a name of its own";

    cCaptureStream err(STDERR_FILENO);
    EXPECT_FALSE(copy_file(a, b, false));
    EXPECT_EQ(slurp(b), "old contents");
    EXPECT_TRUE(copy_file(a, b, true));
    EXPECT_EQ(slurp(b), std::string("\0\1\2xyz", 6));
    EXPECT_FALSE(copy_file(a, dir / "no_such_dir/x.bin", true));
    std::string text = err.stop();
    EXPECT_NE(text.find("## ERROR: copy failed: File exists\n"), std::string::npos) << text;
    EXPECT_NE(text.find("## ERROR: copy failed: No such file or directory\n"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(dir / "no_such_dir"));
}

TEST(FileCopy, a_failed_copy_leaves_no_file_behind) {
    cTempDir dir;
    cCaptureStream err(STDERR_FILENO);
    // Opens and reads as a file, but the read at offset 0 fails (nothing is mapped there).
    EXPECT_FALSE(copy_file("/proc/self/mem", dir / "d.bin", true));
    EXPECT_EQ(err.stop(), "## ERROR: copy failed: Input/output error\n");
    EXPECT_EQ(file_names_in(dir.path()), std::vector<std::string>{});
}

TEST(FileCopy, without_overwrite_a_destination_made_during_the_copy_is_kept) {
    cTempDir dir;
    const std::string source = dir / "slow_source", destination = dir / "copy.bin";
    // A pipe as the source holds the copy mid-way until the test writes the bytes.
    ASSERT_EQ(::mkfifo(source.c_str(), 0600), 0);
    cCaptureStream err(STDERR_FILENO);
    bool copied = true;
    std::thread copier([&] { copied = copy_file(source, destination, false); });
    const int pipe_in = ::open(source.c_str(), O_WRONLY);  // returns once the copy has opened it
    ASSERT_GE(pipe_in, 0);
    // Past every look at the destination: its temporary file is there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (file_names_in(dir.path()).size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    dir.write("copy.bin", "made meanwhile by somebody else");
    EXPECT_EQ(::write(pipe_in, "copied bytes", 12), 12);
    ::close(pipe_in);
    copier.join();

    EXPECT_FALSE(copied);
    EXPECT_EQ(slurp(destination), "made meanwhile by somebody else");
    EXPECT_EQ(file_names_in(dir.path()), (std::vector<std::string>{"copy.bin", "slow_source"})) << "no partial file left";
    EXPECT_NE(err.stop().find("## ERROR: copy failed: File exists\n"), std::string::npos);
}

TEST(FileStatus, delete_time_size_and_exists_report_failures) {
    cTempDir dir;
    std::string f = dir.write("f.txt", "12345");
    EXPECT_TRUE(file_exists(f));
    EXPECT_EQ(file_size(f), 5);
    EXPECT_GT(file_time(f), 1600000000);
    EXPECT_TRUE(delete_file(f));
    EXPECT_FALSE(file_exists(f));

    cCaptureStream err(STDERR_FILENO);
    EXPECT_FALSE(delete_file(f));
    EXPECT_EQ(file_size(f), 0);
    EXPECT_EQ(file_time(f), 0);
    EXPECT_EQ(err.stop(),
              "## ERROR: delete failed: No such file or directory\n"
              "## ERROR: Problem getting file size\n"
              "## ERROR: Problem getting file time\n");
}

TEST(FileStatus, error_text_ends_with_a_line_break) {
    EXPECT_EQ(error_text(ENOENT), "No such file or directory\n");
    EXPECT_EQ(error_text(0), "");
}

TEST(ReadFile, reads_bytes_exactly) {
    cTempDir dir;
    std::string bytes("line1\r\nline2\0tail", 17);
    std::string out = "previous";
    EXPECT_TRUE(read_file(dir.write("f.bin", bytes), out));
    EXPECT_EQ(out, bytes);
}

TEST(ReadFile, missing_empty_directory_and_unreadable_files_fail_as_specified) {
    cTempDir dir;
    std::string out = "unchanged";
    cCaptureStream err(STDERR_FILENO);
    EXPECT_FALSE(read_file(dir / "missing.txt", out));
    EXPECT_EQ(err.text(), "");

    EXPECT_FALSE(read_file(dir.write("empty.txt", ""), out));
    EXPECT_EQ(err.text(), "read empty file...\n");

    EXPECT_FALSE(read_file(dir.path(), out));
    EXPECT_NE(err.text().find("## ASSERT FAILED: wtf"), std::string::npos);

    if (::geteuid() != 0) {  // root reads anything, so only an ordinary user can see this path
        std::string locked = dir.write("locked.txt", "secret");
        ::chmod(locked.c_str(), 0);
        EXPECT_FALSE(read_file(locked, out));
        EXPECT_EQ(unreadable_reason(locked), "Permission denied");
    }
    err.stop();
    EXPECT_EQ(out, "unchanged");

    // Why, in words, for whoever names the file.
    EXPECT_EQ(unreadable_reason(dir / "missing.txt"), "it does not exist");
    EXPECT_EQ(unreadable_reason(dir.path()), "it is a directory");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(unreadable_reason(dir / "pipe"), "it is not a regular file");
    EXPECT_EQ(unreadable_reason(dir / "empty.txt"), "") << "an empty file opens; read_file says it is empty";
}
