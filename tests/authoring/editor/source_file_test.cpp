// The replacement of the track source over the text an edit was based on, against saves of
// another program that land between the edit's check of the file and its rename: each save
// must stay, whole, and the backup must be the based-on text in a file of its own.
#include "authoring/editor/source_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

// A program that saves in place: the file emptied at open, then written in pieces.
class cInPlaceWriter {
public:
    cInPlaceWriter(const std::string& path, bool truncate)
        : fd_(::open(path.c_str(), O_WRONLY | (truncate ? O_TRUNC : 0) | O_CLOEXEC)) {}
    ~cInPlaceWriter() { close(); }
    void write(const std::string& bytes) { EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

TEST(SourceFile, an_outside_save_between_the_check_and_the_rename_stays_and_the_backup_is_a_copy) {
    cTempDir dir;
    const std::string path = dir / "show.tracks";
    const std::string before = "track a\n  0:0 1 step\n", edit = "track a\n  0:0 2 step\n";
    const std::vector<std::string> settled = {"show.tracks", "show.tracks.bak"};

    // A save by rename, after the edit was checked against `before`.
    dir.write("show.tracks", before);
    const std::string renamed = "track a\n  0:0 3 step\ntrack b\n";
    dir.write("saving", renamed);
    std::filesystem::rename(dir / "saving", path);
    std::string error;
    EXPECT_FALSE(replace_source_file(path, edit, before, error));
    EXPECT_NE(error.find("changed by another program"), std::string::npos) << error;
    EXPECT_EQ(slurp(path), renamed);
    EXPECT_EQ(slurp(path + ".bak"), before);
    EXPECT_EQ(file_names_in(dir.path()), settled);

    // A save in place that has emptied the file and written half of it: the rest still arrives.
    const std::string in_place = "track a\n  0:0 4 step\n\ntrack c\n  0:0 5 step\n";
    {
        cInPlaceWriter writer(path, true);
        ASSERT_GE(writer.fd(), 0);
        writer.write(in_place.substr(0, 10));
        EXPECT_FALSE(replace_source_file(path, edit, renamed, error));
        writer.write(in_place.substr(10));
    }
    EXPECT_EQ(slurp(path), in_place);
    EXPECT_EQ(file_names_in(dir.path()), settled);

    // A program holding the file open for writing, not yet written: the edit does not replace it,
    // and the backup is bytes of its own, untouched by what the program then writes.
    const std::string later = "track a\n  0:0 6 step\n";
    {
        cInPlaceWriter writer(path, false);
        ASSERT_GE(writer.fd(), 0);
        EXPECT_FALSE(replace_source_file(path, edit, in_place, error));
        ASSERT_EQ(::ftruncate(writer.fd(), 0), 0);
        writer.write(later);
    }
    EXPECT_EQ(slurp(path), later);
    EXPECT_EQ(slurp(path + ".bak"), in_place);
    EXPECT_EQ(file_names_in(dir.path()), settled);

    // Nobody else at work: the edit goes in, over a backup with a name of its own.
    EXPECT_TRUE(replace_source_file(path, edit, later, error)) << error;
    EXPECT_EQ(slurp(path), edit);
    EXPECT_EQ(slurp(path + ".bak"), later);
    EXPECT_EQ(file_names_in(dir.path()), settled);
}
