// The sync device over the track store. Reports only the outcome of creating the store;
// a missing track file is a valid, empty track. Main thread only, no locks.
#include "host/sync/sync_device.h"

#include <iostream>

cSyncDevice::cSyncDevice() { rows_per_second = bpm / 60.0 * rows_per_beat; }

bool cSyncDevice::open_store(const std::string& base_path) {
    // Tracks already handed out point into the store, so an existing one is never replaced.
    if (!store_) store_ = create_store(base_path.c_str());
    if (store_) {
        std::cerr << "# SYNC connected to localhost" << std::endl;
    } else {
        std::cerr << "# SYNC: ERROR - failed creation" << std::endl;
    }
    return store_ != nullptr;
}

bool cSyncDevice::register_track(const char* name) {
    if (!store_ || !name) return false;
    cSyncTrack* track = get_track(*store_, name);
    if (!track) return false;
    registry_.emplace(name, track);
    return true;
}

float cSyncDevice::get_value(const char* name, const int64_t& time_ms) {
    if (!store_ || !name) return 0.0f;
    std::string_view key(name);
    auto found = registry_.find(key);
    if (found == registry_.end()) {
        register_track(name);
        found = registry_.find(key);
        if (found == registry_.end()) return 0.0f;
    }
    double row = static_cast<double>(time_ms) * rows_per_second / 1000.0;
    return static_cast<float>(value_at(*found->second, row));
}

cSyncTrack* cSyncDevice::track(const char* name) {
    if (!store_ || !name) return nullptr;
    if (cSyncTrack* known = registered_track(name)) return known;
    register_track(name);
    return registered_track(name);
}

cSyncTrack* cSyncDevice::registered_track(const char* name) const {
    if (!name) return nullptr;
    auto found = registry_.find(std::string_view(name));
    return found == registry_.end() ? nullptr : found->second;
}
