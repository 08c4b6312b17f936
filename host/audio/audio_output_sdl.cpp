// SDL2 audio in callback mode. SDL converts our stereo 16-bit to whatever the hardware wants;
// the audio subsystem is initialised here and released on close, so the window's own use of
// SDL is untouched.
#include "host/audio/audio_output_sdl.h"

#include <SDL2/SDL.h>

namespace {

struct cCallbackTarget {
    cSdlOutput::fill_function fill;
    void* user;
};

// SDL hands out userdata by pointer; one device at a time, so one slot is enough.
cCallbackTarget callback_target{nullptr, nullptr};

void sdl_callback(void* userdata, Uint8* stream, int length) {
    auto* target = static_cast<cCallbackTarget*>(userdata);
    const uint32_t frames = static_cast<uint32_t>(length) / (2 * sizeof(int16_t));
    target->fill(target->user, reinterpret_cast<int16_t*>(stream), frames);
}

}  // namespace

bool cSdlOutput::open(uint32_t rate, uint32_t buffer_frames, fill_function fill, void* user, std::string& error) {
    close();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error = SDL_GetError();
        return false;
    }
    subsystem_ = true;
    callback_target = {fill, user};
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(rate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(buffer_frames);
    want.callback = sdl_callback;
    want.userdata = &callback_target;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to the hardware's format, so our callback always sees
    // exactly what we asked for.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        error = SDL_GetError();
        close();
        return false;
    }
    buffer_frames_ = have.samples;
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void cSdlOutput::close() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (subsystem_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystem_ = false;
    }
    buffer_frames_ = 0;
}

const char* cSdlOutput::driver_name() const {
    const char* name = SDL_GetCurrentAudioDriver();
    return name ? name : "";
}
