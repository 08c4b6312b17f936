// Stream and channel calls of the audio layer: creation from memory or a file, free, info, length,
// position, seconds and bytes, refill, play, state and spectrum data. Decoding and FFTs run
// outside the layer's lock; everything that touches playback state runs inside it.
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "host/audio/audio_api.h"
#include "host/audio/audio_decoder.h"
#include "host/audio/audio_errors.h"
#include "host/audio/audio_layer.h"
#include "host/audio/audio_spectrum.h"

namespace {

constexpr uint64_t no_bytes = ~uint64_t{0};
constexpr uint32_t no_data = ~uint32_t{0};
constexpr uint32_t accepted_stream_flags = BASS_STREAM_PRESCAN;

// Reads length bytes (0: to the end) from offset of a file. False when it cannot be opened
// or read as asked.
bool read_file_bytes(const char* path, uint64_t offset, uint64_t length, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || offset > static_cast<uint64_t>(size)) return false;
    const uint64_t available = static_cast<uint64_t>(size) - offset;
    if (length == 0 || length > available) length = available;
    out.resize(static_cast<size_t>(length));
    in.seekg(static_cast<std::streamoff>(offset));
    return length == 0 || static_cast<bool>(in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length)));
}

}  // namespace

uint32_t BASS_StreamCreateFile(bool mem, const void* file, uint64_t offset, uint64_t length, uint32_t flags) {
    cAudioLayer& layer = audio_layer();
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        if (!layer.initialised) return audio_errors::fail(BASS_ERROR_INIT, 0u);
    }
    if (!file || (flags & ~accepted_stream_flags) != 0) return audio_errors::fail(BASS_ERROR_ILLPARAM, 0u);

    auto pcm = std::make_shared<cPcm>();
    int32_t result;
    if (mem) {
        // A memory block must say how long it is.
        if (length == 0 || offset >= length) return audio_errors::fail(BASS_ERROR_ILLPARAM, 0u);
        result = decode_audio(static_cast<const uint8_t*>(file) + offset, static_cast<size_t>(length - offset), *pcm);
    } else {
        std::vector<uint8_t> bytes;
        try {
            if (!read_file_bytes(static_cast<const char*>(file), offset, length, bytes)) {
                return audio_errors::fail(BASS_ERROR_FILEOPEN, 0u);
            }
        } catch (const std::bad_alloc&) {
            return audio_errors::fail(BASS_ERROR_MEM, 0u);
        }
        result = decode_audio(bytes.data(), bytes.size(), *pcm);
    }
    if (result != BASS_OK) return audio_errors::fail(result, 0u);

    std::lock_guard<std::mutex> guard(layer.lock);
    // The device may have been freed while we decoded.
    if (!layer.initialised) return audio_errors::fail(BASS_ERROR_INIT, 0u);
    uint32_t handle = layer.next_handle;
    while (handle == 0 || layer.streams.count(handle)) ++handle;
    layer.next_handle = handle + 1;
    layer.streams[handle] = std::make_unique<cAudioStream>(std::move(pcm), layer.rate, layer.buffer_frames());
    audio_errors::set(BASS_OK);
    return handle;
}

bool BASS_StreamFree(uint32_t handle) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    if (!layer.streams.erase(handle)) return audio_errors::fail(BASS_ERROR_HANDLE, false);
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_ChannelGetInfo(uint32_t handle, BASS_CHANNELINFO* info) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, false);
    if (!info) return audio_errors::fail(BASS_ERROR_ILLPARAM, false);
    *info = BASS_CHANNELINFO{};
    info->freq = stream->pcm()->rate;
    info->chans = stream->pcm()->channels;
    audio_errors::set(BASS_OK);
    return true;
}

uint64_t BASS_ChannelGetLength(uint32_t handle, uint32_t mode) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, no_bytes);
    if (mode != BASS_POS_BYTE) return audio_errors::fail(BASS_ERROR_NOTAVAIL, no_bytes);
    audio_errors::set(BASS_OK);
    return stream->length_frames() * stream->pcm()->frame_bytes();
}

uint64_t BASS_ChannelGetPosition(uint32_t handle, uint32_t mode) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, no_bytes);
    if (mode != BASS_POS_BYTE) return audio_errors::fail(BASS_ERROR_NOTAVAIL, no_bytes);
    const double frame = std::floor(stream->position(layer.device_audible()));
    audio_errors::set(BASS_OK);
    return static_cast<uint64_t>(frame) * stream->pcm()->frame_bytes();
}

bool BASS_ChannelSetPosition(uint32_t handle, uint64_t pos, uint32_t mode) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, false);
    if (mode != BASS_POS_BYTE) return audio_errors::fail(BASS_ERROR_NOTAVAIL, false);
    const uint64_t frame = pos / stream->pcm()->frame_bytes();
    if (frame > stream->length_frames()) return audio_errors::fail(BASS_ERROR_POSITION, false);
    // While the output plays, the position moves on from the new place at once rather than
    // standing there for the output's latency (a picture drawn from it would stop).
    if (stream->playing && !layer.output_paused && layer.clock) {
        stream->seek_running(frame, layer.device_audible());
    } else {
        stream->seek(frame);
    }
    audio_errors::set(BASS_OK);
    return true;
}

double BASS_ChannelBytes2Seconds(uint32_t handle, uint64_t pos) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, -1.0);
    const cPcm& pcm = *stream->pcm();
    audio_errors::set(BASS_OK);
    return static_cast<double>(pos) / (static_cast<double>(pcm.rate) * pcm.frame_bytes());
}

uint64_t BASS_ChannelSeconds2Bytes(uint32_t handle, double seconds) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, no_bytes);
    // Negative, NaN and absurdly large times have no byte position.
    if (!(seconds >= 0.0) || seconds > static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        return audio_errors::fail(BASS_ERROR_ILLPARAM, no_bytes);
    }
    const cPcm& pcm = *stream->pcm();
    audio_errors::set(BASS_OK);
    return static_cast<uint64_t>(std::floor(seconds * pcm.rate)) * pcm.frame_bytes();
}

bool BASS_ChannelUpdate(uint32_t handle, uint32_t length) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, false);
    // "No sound" has nothing to fill.
    if (layer.device == BASS_DEVICE_DEFAULT_OUTPUT) {
        const size_t frames = length == 0 ? layer.buffer_frames() : static_cast<size_t>(uint64_t{length} * layer.rate / 1000);
        stream->refill(frames);
    }
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_ChannelPlay(uint32_t handle, bool restart) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, false);
    if (restart) stream->seek(0);
    stream->playing = true;
    audio_errors::set(BASS_OK);
    return true;
}

bool BASS_ChannelSetLoop(uint32_t handle, uint64_t start, uint64_t end) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, false);
    const uint32_t frame_bytes = stream->pcm()->frame_bytes();
    stream->set_loop(start / frame_bytes, end / frame_bytes);
    audio_errors::set(BASS_OK);
    return true;
}

uint32_t BASS_ChannelIsActive(uint32_t handle) {
    cAudioLayer& layer = audio_layer();
    std::lock_guard<std::mutex> guard(layer.lock);
    cAudioStream* stream = layer.find(handle);
    if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, BASS_ACTIVE_STOPPED);
    audio_errors::set(BASS_OK);
    if (!stream->playing) return BASS_ACTIVE_STOPPED;
    // Played to the end and heard to the end.
    if (stream->drained() && stream->position(layer.device_audible()) >= static_cast<double>(stream->length_frames())) {
        return BASS_ACTIVE_STOPPED;
    }
    return layer.output_paused ? BASS_ACTIVE_PAUSED : BASS_ACTIVE_PLAYING;
}

uint32_t BASS_ChannelGetData(uint32_t handle, void* buffer, uint32_t length) {
    cAudioLayer& layer = audio_layer();
    std::shared_ptr<const cPcm> pcm;
    int64_t end_frame;
    {
        std::lock_guard<std::mutex> guard(layer.lock);
        cAudioStream* stream = layer.find(handle);
        if (!stream) return audio_errors::fail(BASS_ERROR_HANDLE, no_data);
        if (!buffer) return audio_errors::fail(BASS_ERROR_ILLPARAM, no_data);
        if (spectrum_values(length) == 0) return audio_errors::fail(BASS_ERROR_NOTAVAIL, no_data);
        pcm = stream->pcm();
        end_frame = static_cast<int64_t>(std::floor(stream->position(layer.device_audible())));
    }
    // The samples never change, so the transform needs no lock of the layer.
    spectrum_magnitudes(*pcm, end_frame, length, static_cast<float*>(buffer));
    audio_errors::set(BASS_OK);
    const uint32_t size = audio_config::fft_min_size << (length & 7);
    return size * pcm->frame_bytes();
}
