// The tunnel: one full-screen quad with the program "tunnel", added over the finished picture.
// The shader makes the tunnel from the music time, a repeating texture and three tracks.
// Depends on the contract only; never draws geometry of its own or leaves its state behind.
#pragma once
#include "module_input.h"

namespace versewall {

void tunnel_pass(iModuleInput* input);

}  // namespace versewall
