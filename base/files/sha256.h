// SHA-256 of a byte string, as hexadecimal text. Self-contained (no crypto library); used by
// objinfo to fingerprint index arrays and by democapture to name the show a capture was made
// from. Not meant for secrets: no constant-time care.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class cSha256 {
public:
    cSha256();
    void update(const void* data, std::size_t size);
    // The digest of everything given so far; the object is spent afterwards.
    std::array<uint8_t, 32> finish();

private:
    void block(const uint8_t* bytes);

    uint32_t state_[8];
    uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    uint64_t total_ = 0;
};

// Lower-case hexadecimal digest of size bytes at data.
std::string sha256_hex(const void* data, std::size_t size);
