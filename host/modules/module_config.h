// Fixed names and sizes of render-module hosting: where modules are found, where their
// copies are loaded from, and the size of the spectrum handed to modules. Constants only.
#pragma once
#include <cstdint>

// Relative to the show directory; start-up makes them absolute before use.
constexpr const char* kModuleSourceDirectory = "bin/";
constexpr const char* kModuleCacheDirectory = "bin/dll_cache/";
// Which files of the source directory are modules.
constexpr const char* kModulePattern = "render*.so";
// What is cleared out of the cache directory before loading: every library, not only modules.
constexpr const char* kModuleCachePattern = "*.so";

// Exports every module provides, looked up by these exact names.
constexpr const char* kCreateSceneExport = "CreateScene";
constexpr const char* kDeleteSceneExport = "DeleteScene";

// Magnitudes in one spectrum: an 8192-point FFT of the music gives 4096 bins.
constexpr int32_t kSpectrumBins = 4096;
