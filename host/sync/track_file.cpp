// Track file bytes and the all-or-nothing writer. Depends on POSIX files (mkstemp, rename).
// Never leaves a half-written ".track" file under a name the show reads.
#include "host/sync/track_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/files/file_utils.h"
#include "host/sync/sync_config.h"

namespace {

void put_le32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t get_le32(const std::string& in, std::size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return v;
}

bool read_whole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The permissions a plain new file would get (mkstemp makes its files private).
mode_t default_file_mode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string encode_track(const std::vector<cSyncKey>& keys) {
    std::string out;
    out.reserve(kSyncKeyCountBytes + kSyncKeyBytes * keys.size());
    put_le32(out, static_cast<uint32_t>(keys.size()));
    for (const cSyncKey& key : keys) {
        put_le32(out, static_cast<uint32_t>(key.row));
        uint32_t bits = 0;
        std::memcpy(&bits, &key.value, sizeof bits);
        put_le32(out, bits);
        out.push_back(static_cast<char>(static_cast<int8_t>(key.interpolation)));
    }
    return out;
}

bool decode_track(const std::string& bytes, std::vector<cSyncKey>& keys, std::string& error) {
    keys.clear();
    if (bytes.size() < kSyncKeyCountBytes) {
        error = "it holds " + std::to_string(bytes.size()) + " bytes, fewer than the 4 of a key count";
        return false;
    }
    int32_t count = static_cast<int32_t>(get_le32(bytes, 0));
    if (count < 0) {
        error = "its key count is negative (" + std::to_string(count) + ")";
        return false;
    }
    std::size_t expected = kSyncKeyCountBytes + kSyncKeyBytes * static_cast<std::size_t>(count);
    if (bytes.size() != expected) {
        error = "its key count " + std::to_string(count) + " needs " + std::to_string(expected) + " bytes, but it holds " +
                std::to_string(bytes.size());
        return false;
    }
    keys.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        std::size_t at = kSyncKeyCountBytes + kSyncKeyBytes * static_cast<std::size_t>(i);
        cSyncKey key;
        key.row = static_cast<int32_t>(get_le32(bytes, at));
        uint32_t bits = get_le32(bytes, at + 4);
        std::memcpy(&key.value, &bits, sizeof bits);
        key.interpolation = static_cast<int8_t>(bytes[at + 8]);  // sign-extended, as the show reads it
        keys.push_back(key);
    }
    return true;
}

std::string track_file_name(const std::string& name) { return kSyncTrackPrefix + name + kSyncTrackSuffix; }

std::string track_name_of_file(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    const std::string suffix = kSyncTrackSuffix;
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        name.erase(name.size() - suffix.size());
    }
    const std::string prefix = kSyncTrackPrefix;
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
    return name;
}

cWriteOutcome write_track_files(const std::string& directory, const std::vector<cTrackFileWrite>& files) {
    cWriteOutcome outcome;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec || !std::filesystem::is_directory(directory)) {
        outcome.error = "cannot create the directory \"" + directory + "\"" + (ec ? ": " + ec.message() : "");
        return outcome;
    }

    struct cPending {
        std::string temp;
        std::string final_path;
    };
    std::vector<cPending> pending;
    auto discard = [&] {
        for (const cPending& p : pending) ::unlink(p.temp.c_str());
    };
    const mode_t mode = default_file_mode();

    // A target that is not a plain file (a directory, say) would make its rename fail after
    // others had already been replaced; refuse before writing anything.
    for (const cTrackFileWrite& file : files) {
        std::filesystem::path target = std::filesystem::path(directory) / file.name;
        std::filesystem::file_status status = std::filesystem::symlink_status(target, ec);
        bool exists = !ec && std::filesystem::exists(status);
        if (exists && !std::filesystem::is_regular_file(status)) {
            outcome.error = "\"" + target.string() + "\" is in the way: it is not a plain file";
            return outcome;
        }
    }

    for (const cTrackFileWrite& file : files) {
        std::string final_path = (std::filesystem::path(directory) / file.name).string();
        std::string existing;
        if (read_whole(final_path, existing) && existing == file.bytes) {
            ++outcome.unchanged;
            continue;
        }
        // A dot name: the show only ever opens "_NAME.track", so it never sees a partial file.
        std::string temp = (std::filesystem::path(directory) / ("." + file.name + ".XXXXXX")).string();
        int fd = ::mkstemp(temp.data());
        if (fd < 0) {
            outcome.error = "cannot create a temporary file in \"" + directory + "\": " + std::strerror(errno);
            discard();
            return outcome;
        }
        pending.push_back({temp, final_path});
        bool ok = write_all(fd, file.bytes) && ::fchmod(fd, mode) == 0;
        int saved = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            saved = errno;
        }
        if (!ok) {
            outcome.error = "cannot write \"" + temp + "\": " + std::strerror(saved);
            discard();
            return outcome;
        }
    }
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (std::rename(pending[i].temp.c_str(), pending[i].final_path.c_str()) != 0) {
            outcome.error = "cannot rename \"" + pending[i].temp + "\" to \"" + pending[i].final_path +
                            "\": " + std::strerror(errno) + " (" + std::to_string(i) + " files were already replaced)";
            for (std::size_t j = i; j < pending.size(); ++j) ::unlink(pending[j].temp.c_str());
            return outcome;
        }
        ++outcome.written;
    }
    outcome.ok = true;
    return outcome;
}
