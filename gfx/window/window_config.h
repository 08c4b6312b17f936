// Fixed values of the window layer: the window's title, the GL framebuffer it asks for, the
// exit statuses of its fatal failures and its message texts. Constants only; no code.
// Nothing here may depend on a platform header.
#pragma once
#include <cstdint>

namespace window_config {

inline constexpr const char* kTitle = "OpenGL";
inline constexpr int32_t kPositionX = 0;
inline constexpr int32_t kPositionY = 0;

// The framebuffer: 8/8/8 colour without alpha (32 bits per pixel on the display), depth, stencil.
inline constexpr int kColourChannelBits = 8;
inline constexpr int kAlphaBits = 0;
inline constexpr int kDepthBits = 24;
inline constexpr int kStencilBits = 8;

// Exit statuses. A missing buffer-object extension is a failure, so it must not read as
// success; a missing multitexture extension has always ended with -1 (255 to the shell).
inline constexpr int kExitNoWindow = 1;
inline constexpr int kExitNoBufferObjects = 1;
inline constexpr int kExitNoMultitexture = -1;

inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kRegisterFailed = "RegisterClass() failed: Cannot register window class.";
inline constexpr const char* kCreateFailed = "CreateWindow() failed:  Cannot create a window.";
inline constexpr const char* kModeSwitchFailed = "failed creating window, exiting";
inline constexpr const char* kPixelFormatFailed = "ChoosePixelFormat() failed: Cannot find a suitable pixel format.";
inline constexpr const char* kNotInitialized = " not initialized";

}  // namespace window_config
