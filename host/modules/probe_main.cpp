// The process entry of demoplayer_probe, the small program beside the player that tries a
// rebuilt module library before the development mode loads it: it links the loader service
// and nothing else, so that it starts in a moment. Never part of the show itself.
#include "host/modules/library_trial.h"

int main(int argc, char** argv) { return library_trial_main(argc, argv); }
