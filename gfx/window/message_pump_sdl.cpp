// The message pump over SDL: drains the event queue without waiting, hands each event as a
// cWindowMessage to the window procedure, then any paint asked for, and keeps the letterbox in
// step with the drawable. It never ends the process itself: that is the procedure's decision.
#include <SDL2/SDL.h>

#include <cstdint>

#include "gfx/window/letterbox_gl.h"
#include "gfx/window/window.h"

namespace {

// Virtual-key style code of an SDL key; 0 for keys the host has no code for.
int32_t virtual_key_of(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return kKeyF1 + (key - SDLK_F1);
    switch (key) {
        case SDLK_BACKSPACE: return kKeyBackspace;
        case SDLK_TAB: return kKeyTab;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return kKeyReturn;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return kKeyShift;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return kKeyControl;
        case SDLK_LALT:
        case SDLK_RALT: return kKeyAlt;
        case SDLK_PAUSE: return kKeyPause;
        case SDLK_ESCAPE: return kKeyEscape;
        case SDLK_SPACE: return kKeySpace;
        case SDLK_PAGEUP: return kKeyPageUp;
        case SDLK_PAGEDOWN: return kKeyPageDown;
        case SDLK_END: return kKeyEnd;
        case SDLK_HOME: return kKeyHome;
        case SDLK_LEFT: return kKeyLeft;
        case SDLK_UP: return kKeyUp;
        case SDLK_RIGHT: return kKeyRight;
        case SDLK_DOWN: return kKeyDown;
        case SDLK_INSERT: return kKeyInsert;
        case SDLK_DELETE: return kKeyDelete;
        default: return 0;
    }
}

int32_t modifiers_of(Uint16 mod) {
    int32_t bits = 0;
    if (mod & KMOD_SHIFT) bits |= kKeyModifierShift;
    if (mod & KMOD_CTRL) bits |= kKeyModifierControl;
    if (mod & KMOD_ALT) bits |= kKeyModifierAlt;
    return bits;
}

// Decodes one UTF-8 sequence at text; advances text past it. Malformed bytes give U+FFFD.
int32_t next_code_point(const char*& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    int32_t code = p[0];
    int length = 1;
    if (code < 0x80) {
        length = 1;
    } else if ((code & 0xE0) == 0xC0) {
        code &= 0x1F;
        length = 2;
    } else if ((code & 0xF0) == 0xE0) {
        code &= 0x0F;
        length = 3;
    } else if ((code & 0xF8) == 0xF0) {
        code &= 0x07;
        length = 4;
    } else {
        text += 1;
        return 0xFFFD;
    }
    // A truncated sequence stops at the terminating zero, which is never a continuation byte.
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            text += i;
            return 0xFFFD;
        }
        code = (code << 6) | (p[i] & 0x3F);
    }
    text += length;
    return code;
}

}  // namespace

void cWindow::dispatch_messages() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        cWindowMessage message;
        switch (event.type) {
            case SDL_QUIT: message.kind = cWindowMessage::close_request; break;
            case SDL_KEYDOWN:
                message.kind = cWindowMessage::key_down;
                message.key = virtual_key_of(event.key.keysym.sym);
                message.modifiers = modifiers_of(event.key.keysym.mod);
                break;
            case SDL_TEXTINPUT: {
                // One event may carry several characters (an input method): one message each.
                const char* text = event.text.text;
                const char* end = text + SDL_strlen(text);
                while (text < end) {
                    cWindowMessage character;
                    character.kind = cWindowMessage::character;
                    character.key = next_code_point(text);
                    if (procedure != nullptr) procedure(*this, character);
                }
                continue;
            }
            case SDL_WINDOWEVENT:
                switch (event.window.event) {
                    case SDL_WINDOWEVENT_CLOSE: message.kind = cWindowMessage::close_request; break;
                    case SDL_WINDOWEVENT_SIZE_CHANGED:
                        message.kind = cWindowMessage::resized;
                        if (handle != nullptr) {
                            SDL_GL_GetDrawableSize(handle, &drawable_width, &drawable_height);
                            letterbox_resize(drawable_width, drawable_height);
                        }
                        break;
                    case SDL_WINDOWEVENT_FOCUS_GAINED: message.kind = cWindowMessage::focus_gained; break;
                    case SDL_WINDOWEVENT_FOCUS_LOST: message.kind = cWindowMessage::focus_lost; break;
                    case SDL_WINDOWEVENT_EXPOSED: message.kind = cWindowMessage::paint; break;
                    default: break;
                }
                break;
            default: break;
        }
        if (procedure != nullptr) procedure(*this, message);
    }
    // Like a platform that makes its paint message when the queue runs empty: requests made
    // while draining, by the procedure itself, are answered before returning.
    // One paint per drain: a procedure that asks again while painting gets the next one.
    if (repaint_requested) {
        repaint_requested = false;
        cWindowMessage paint;
        paint.kind = cWindowMessage::paint;
        if (procedure != nullptr) procedure(*this, paint);
    }
}

void cWindow::request_repaint() {
    repaint_requested = true;
}
