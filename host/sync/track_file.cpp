// Track file bytes and the all-or-nothing writer. Depends on the atomic writer of base/files
// and POSIX files (link, rename). Never leaves a half-written ".track" file under a name the
// show reads, and never changes the process's umask (other threads create files at the same time).
#include "host/sync/track_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/files/file_utils.h"
#include "base/files/sibling_temp.h"
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
    std::string reason;
    return read_whole_file(path, out, reason);
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

bool is_track_file_name(const std::string& name) {
    return name.size() > std::strlen(kSyncTrackPrefix) + std::strlen(kSyncTrackSuffix) &&
           name.rfind(kSyncTrackPrefix, 0) == 0 && name.ends_with(kSyncTrackSuffix);
}

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

cTrackFileSet::~cTrackFileSet() { discard(); }

void cTrackFileSet::discard() {
    for (cPending& p : pending_) {
        p.file.discard();
        if (!p.held.empty()) ::unlink(p.held.c_str());
    }
    pending_.clear();
}

cWriteOutcome cTrackFileSet::prepare(const std::string& directory, const std::vector<cTrackFileWrite>& files) {
    discard();
    outcome_ = {};
    cWriteOutcome& outcome = outcome_;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec || !std::filesystem::is_directory(directory)) {
        outcome.error = "cannot create the directory \"" + directory + "\"" + (ec ? ": " + ec.message() : "");
        return outcome;
    }

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
        struct stat info {};
        bool replaces = ::lstat(final_path.c_str(), &info) == 0;
        // A new file gets what the umask leaves of 0666, as from any program; a replaced one
        // keeps its own mode.
        cAtomicFile temp(final_path);
        if (!temp.create()) {
            outcome.error = "cannot create a temporary file in \"" + directory + "\": " + std::strerror(temp.error());
            discard();
            return outcome;
        }
        pending_.push_back({std::move(temp), final_path, replaces, {}});
        cAtomicFile& written = pending_.back().file;
        if (!written.write(file.bytes) || !written.close()) {
            outcome.error = "cannot write \"" + written.temp_path() + "\": " + std::strerror(written.error());
            discard();
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

cWriteOutcome cTrackFileSet::commit() {
    cWriteOutcome outcome = outcome_;
    if (!outcome.ok) return outcome;
    // Each file to be replaced keeps a second name until all are in place, so a failure can
    // put it back without writing anything (a disk that is full takes no new bytes). A folder
    // that takes no second names replaces without that.
    for (cPending& p : pending_) {
        if (p.replaces && !link_sibling_temp(p.final_path, p.final_path, p.held)) p.held.clear();
    }
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        const std::string temp = pending_[i].file.temp_path();
        if (pending_[i].file.commit()) {
            ++outcome.written;
            continue;
        }
        int saved = pending_[i].file.error();
        int restored = 0;
        for (std::size_t j = 0; j < i; ++j) {
            const cPending& p = pending_[j];
            if (!p.held.empty() ? std::rename(p.held.c_str(), p.final_path.c_str()) == 0
                                : !p.replaces && ::unlink(p.final_path.c_str()) == 0) {
                ++restored;
            }
        }
        outcome.ok = false;
        outcome.written = 0;
        outcome.error = "cannot rename \"" + temp + "\" to \"" + pending_[i].final_path + "\": " +
                        std::strerror(saved);
        if (restored != static_cast<int>(i)) {
            outcome.error += " (" + std::to_string(static_cast<int>(i) - restored) + " files could not be put back)";
        }
        discard();
        return outcome;
    }
    for (const cPending& p : pending_) {
        if (!p.held.empty()) ::unlink(p.held.c_str());
    }
    pending_.clear();
    outcome_ = {};
    return outcome;
}

cWriteOutcome write_track_files(const std::string& directory, const std::vector<cTrackFileWrite>& files) {
    cTrackFileSet set;
    cWriteOutcome prepared = set.prepare(directory, files);
    return prepared.ok ? set.commit() : prepared;
}
