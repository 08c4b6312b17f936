// libsndfile over a block of memory. The sample vector is reserved once from the decoder's
// frame count and trimmed to what was really decoded, so no more than the samples themselves
// stay held (a truncated file may announce more frames than it has).
#include "host/audio/audio_decoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "host/audio/audio_api.h"
#include "host/audio/audio_config.h"

namespace {

struct cMemoryFile {
    const uint8_t* bytes;
    sf_count_t size;
    sf_count_t position;
};

sf_count_t memory_length(void* user) { return static_cast<cMemoryFile*>(user)->size; }

// Seeking past the end is allowed, as on a real file: reads there return nothing. Refusing it
// makes the MP3 decoder complain on standard error about a file it could otherwise reject quietly.
sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
    auto* file = static_cast<cMemoryFile*>(user);
    sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file->position : file->size;
    sf_count_t target = base + offset;
    if (target < 0) return -1;
    file->position = target;
    return target;
}

sf_count_t memory_read(void* destination, sf_count_t count, void* user) {
    auto* file = static_cast<cMemoryFile*>(user);
    if (count <= 0 || file->position >= file->size) return 0;
    sf_count_t n = std::min(count, file->size - file->position);
    std::memcpy(destination, file->bytes + file->position, static_cast<size_t>(n));
    file->position += n;
    return n;
}

sf_count_t memory_write(const void*, sf_count_t, void*) { return 0; }

sf_count_t memory_tell(void* user) { return static_cast<cMemoryFile*>(user)->position; }

// Frames decoded per read call.
constexpr sf_count_t read_chunk_frames = 65536;

}  // namespace

int32_t decode_audio(const uint8_t* bytes, size_t size, cPcm& out) {
    out = cPcm{};
    if (!bytes || size == 0) return BASS_ERROR_FILEFORM;
    cMemoryFile file{bytes, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
    SF_INFO info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (!sound) return BASS_ERROR_FILEFORM;
    if (info.channels <= 0 || static_cast<uint32_t>(info.channels) > audio_config::max_stream_channels ||
        info.samplerate <= 0) {
        sf_close(sound);
        return BASS_ERROR_FORMAT;
    }
    // Decoders that work in floating point (MP3, Vorbis) produce peaks above full scale; without
    // clipping they would wrap around to the opposite sign.
    sf_command(sound, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    const sf_count_t channels = info.channels;
    int32_t result = BASS_OK;
    try {
        // Reserving touches no pages, so a header that announces far more frames than the file
        // holds costs address space only; the bound keeps even that sane.
        const sf_count_t bound = sf_count_t{audio_config::max_reserved_seconds} * info.samplerate;
        if (info.frames > 0) out.samples.reserve(static_cast<size_t>(std::min(info.frames, bound) * channels));
        std::vector<int16_t> chunk(static_cast<size_t>(read_chunk_frames * channels));
        for (;;) {
            sf_count_t got = sf_readf_short(sound, chunk.data(), read_chunk_frames);
            if (got <= 0) break;
            out.samples.insert(out.samples.end(), chunk.begin(), chunk.begin() + got * channels);
        }
        if (out.samples.capacity() != out.samples.size()) out.samples.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        out.samples = {};
        result = BASS_ERROR_MEM;
    }
    sf_close(sound);
    if (result != BASS_OK) return result;
    out.rate = static_cast<uint32_t>(info.samplerate);
    out.channels = static_cast<uint32_t>(info.channels);
    return BASS_OK;
}
