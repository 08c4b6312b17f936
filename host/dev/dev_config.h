// Fixed numbers of the development mode in one place: the transport's steps, the watcher's
// waits, the read-out's look, the frame pacing. Constants only; no code.
#pragma once
#include <cstdint>

namespace dev_config {

// ---- start ----
constexpr const char* kDevOption = "--dev";
constexpr const char* kEditorPortOption = "--editor-port";
constexpr int32_t kDefaultEditorPort = 8917;
constexpr const char* kUsage = "demoplayer [--dev [--editor-port N]]";

// ---- transport ----
constexpr double kBeatsPerBar = 4.0;
constexpr double kBarsPerPage = 8.0;           // Page Up / Page Down
constexpr int32_t kAvOffsetStepMs = 5;         // ',' and '.'
// The frame drawn before a seek's first frame is one frame interval earlier; until the frame
// rate is known it is a 60 Hz frame.
constexpr double kDefaultFrameMs = 1000.0 / 60.0;
constexpr double kMaxPrimeStepMs = 100.0;

// ---- live reload ----
// The show's folders that are watched, relative to the show directory (the tracks' folder and
// the modules' folder are the sync and module subsystems' own).
constexpr const char* kShaderFolder = "data/shaders";
constexpr const char* kTextureFolder = "data/textures";
constexpr const char* kModelFolder = "data/models";
constexpr const char* kWatchedDirectories[] = {"data/sync", kShaderFolder, kTextureFolder, kModelFolder, "bin"};
// Changes are applied once the watcher has been quiet this long (an editor's save is a few
// events; a branch switch is thousands), but never later than the second figure.
constexpr double kSettleSeconds = 0.015;
constexpr double kMaxSettleSeconds = 0.5;
// A folder that went away (renamed, deleted) is looked for again this often.
constexpr double kRewatchSeconds = 1.0;
// A rebuilt library is loaded once its size and time stayed the same over this long after the
// writer closed it.
constexpr double kLibraryStableSeconds = 0.025;
// A linker removes its output before it writes it anew; a library removed for longer than this
// is reported as gone.
constexpr double kLibraryGoneSeconds = 2.0;
// A reloaded image goes to GL a few rows at a time: in each frame, this share of the time
// since the last one, but at least the first figure and at most the second.
constexpr double kImageUploadShare = 0.25;
constexpr double kImageUploadSeconds = 0.004;
constexpr double kMaxImageUploadSeconds = 0.05;

// ---- read-out ----
constexpr int32_t kReadoutScale = 2;           // screen pixels per font pixel
constexpr int32_t kReadoutMargin = 8;          // pixels from the picture's corner
constexpr int32_t kReadoutLineGap = 3;         // font pixels between lines
constexpr double kReadoutMessageSeconds = 4.0; // how long a reload's result stays on screen
constexpr int32_t kReadoutMaxColumns = 100;    // longer lines are cut with "..."
constexpr float kReadoutText[4] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr float kReadoutGood[4] = {0.55f, 1.0f, 0.55f, 1.0f};
constexpr float kReadoutError[4] = {1.0f, 0.3f, 0.25f, 1.0f};
constexpr float kReadoutBackground[4] = {0.0f, 0.0f, 0.0f, 0.6f};
constexpr double kFrameStatsSeconds = 1.0;     // frame time and rate are averaged over this

// ---- pacing ----
// Without vertical synchronisation (a virtual display) frames would follow each other as fast
// as the machine allows; a frame done sooner than this is held to the 60 Hz frame time.
constexpr double kUnsyncedFrameSeconds = 0.002;
constexpr double kPacedFrameSeconds = 1.0 / 60.0;
// While paused and nothing changes, the loop looks for input and changes this often.
constexpr double kIdleSeconds = 0.005;

}  // namespace dev_config
