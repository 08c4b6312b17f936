// The track store and the ".track" reader. The reader trusts nothing in the file: the key
// count can be negative, huge or larger than the file, so the key array is sized by the
// bytes that are really there. All file access goes through the store's callbacks.
#include "host/sync/sync_store.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "host/sync/sync_config.h"

// ---- file callbacks ----

namespace {

FILE* open_file(const char* path, const char* mode) { return std::fopen(path, mode); }
std::size_t read_file(void* buffer, std::size_t element_size, std::size_t element_count, FILE* file) {
    return std::fread(buffer, element_size, element_count, file);
}
void close_file(FILE* file) { std::fclose(file); }

// ".track" numbers are little-endian whatever the host's byte order.
int32_t int32_at(const unsigned char* bytes) {
    uint32_t bits = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                    static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int32_t>(bits);
}

float float_at(const unsigned char* bytes) { return std::bit_cast<float>(int32_at(bytes)); }

}  // namespace

// ---- store ----

std::unique_ptr<cSyncStore> create_store(const char* base_path) {
    try {
        auto store = std::make_unique<cSyncStore>();
        store->base_path = base_path ? base_path : "";
        store->open = open_file;
        store->read = read_file;
        store->close = close_file;
        return store;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int32_t find_track(const cSyncStore& store, const char* name) {
    if (!name) return -1;
    for (std::size_t i = 0; i < store.tracks.size(); ++i) {
        if (std::strcmp(store.tracks[i]->name.c_str(), name) == 0) return static_cast<int32_t>(i);
    }
    return -1;
}

cSyncTrack* get_track(cSyncStore& store, const char* name) {
    if (!name) return nullptr;
    int32_t found = find_track(store, name);
    if (found >= 0) return store.tracks[static_cast<std::size_t>(found)].get();

    auto track = std::make_unique<cSyncTrack>();
    track->name = name;
    cSyncTrack* made = track.get();
    store.tracks.push_back(std::move(track));
    read_track_file(store, *made);  // a track without a file is a valid, empty track
    return made;
}

// ---- ".track" reader ----

bool read_track_file(const cSyncStore& store, cSyncTrack& track) {
    std::string path = store.base_path + kSyncTrackPrefix + track.name + kSyncTrackSuffix;
    // The path must fit the fixed path buffer with its terminator; a longer one names no file.
    if (path.size() >= kSyncTrackPathCapacity) return false;

    FILE* file = store.open(path.c_str(), "rb");
    if (!file) return false;

    unsigned char count_bytes[kSyncKeyCountBytes];
    if (store.read(count_bytes, 1, sizeof count_bytes, file) != sizeof count_bytes) {
        store.close(file);
        return false;
    }
    int32_t count = int32_at(count_bytes);
    if (count <= 0) {
        store.close(file);
        return count == 0;
    }

    // Read at most what the count promises, in chunks, and stop at the first short read:
    // only whole keys that are really in the file are kept.
    std::size_t wanted = static_cast<std::size_t>(count) * kSyncKeyBytes;
    std::vector<unsigned char> bytes;
    unsigned char chunk[1024 * kSyncKeyBytes];
    while (bytes.size() < wanted) {
        std::size_t ask = std::min(sizeof chunk, wanted - bytes.size());
        std::size_t got = store.read(chunk, 1, ask, file);
        bytes.insert(bytes.end(), chunk, chunk + std::min(got, ask));
        if (got < ask) break;
    }
    store.close(file);

    std::size_t whole = bytes.size() / kSyncKeyBytes;
    if (whole == 0) return false;
    std::unique_ptr<cSyncKey[]> keys(new (std::nothrow) cSyncKey[whole]);
    if (!keys) return false;
    for (std::size_t i = 0; i < whole; ++i) {
        const unsigned char* at = bytes.data() + i * kSyncKeyBytes;
        keys[i].row = int32_at(at);
        keys[i].value = float_at(at + 4);
        keys[i].interpolation = static_cast<int8_t>(at[8]);  // sign-extended
    }
    track.keys = std::move(keys);
    track.key_count = static_cast<int32_t>(whole);
    return true;
}
