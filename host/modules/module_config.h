// Fixed names and sizes of render-module hosting: where modules are found, where their
// copies are loaded from, and the size of the spectrum handed to modules. Constants only.
#pragma once
#include <cstdint>

#include "host/show/host_constants.h"

// Relative to the show directory; start-up makes them absolute before use.
constexpr const char* kModuleSourceDirectory = host_constants::module_directory;
constexpr const char* kModuleCacheDirectory = host_constants::module_cache_directory;
// Which files of the source directory are modules.
constexpr const char* kModulePattern = host_constants::module_pattern;
// What is cleared out of the cache directory before loading: every library, not only modules.
constexpr const char* kModuleCachePattern = "*.so";

// Exports every module provides, looked up by these exact names.
constexpr const char* kCreateSceneExport = "CreateScene";
constexpr const char* kDeleteSceneExport = "DeleteScene";

// A rebuilt library is first opened by a trial process: "demoplayer_probe --probe-library
// PATH", the small program beside the player, or the player itself with that option (never
// shown in its usage). The trial writes the loader's message to the report descriptor and
// ends with one of these statuses.
constexpr const char* kProbeProgramName = "demoplayer_probe";
constexpr const char* kLibraryProbeOption = "--probe-library";
constexpr int kProbeReportFd = 3;
constexpr int kProbeLoads = 0;
constexpr int kProbeNotLoaded = 10;
constexpr int kProbeLacksCreate = 11;
constexpr int kProbeLacksDelete = 12;
// Longest a trial may take; one that takes longer is ended and its library refused.
constexpr double kLibraryProbeSeconds = 5.0;
// This process's own program, as it runs now (also when its file has been replaced since).
constexpr const char* kOwnProgramPath = "/proc/self/exe";

// Magnitudes in one spectrum: an 8192-point FFT of the music gives 4096 bins.
constexpr int32_t kSpectrumBins = 4096;
