// iSync: the value of a named sync track at a music time. One operation; no virtual
// destructor, nobody deletes through it. Plug-in ABI.
#pragma once
#include <cstdint>

class iSync {
public:
    // name: zero-terminated track name; time_ms: music time in milliseconds.
    virtual float get_value(const char* name, const int64_t& time_ms) = 0;  // slot 0

protected:
    ~iSync() = default;
};
