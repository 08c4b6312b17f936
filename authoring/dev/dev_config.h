// Fixed numbers of the development mode in one place: the transport's steps, the watcher's
// waits, the read-out's look, the frame pacing. Constants only; no code.
#pragma once
#include <cstdint>

#include "authoring/editor/editor_config.h"
#include "host/show/host_constants.h"

namespace dev_config {

// ---- start ----
constexpr const char* kDevOption = "--dev";
constexpr const char* kEditorPortOption = "--editor-port";
constexpr int32_t kDefaultEditorPort = editor_config::default_port;
constexpr const char* kWindowedOption = "--windowed";
constexpr const char* kUsage = "demoplayer [--dev [--editor-port N]] [--windowed]";

// ---- transport ----
constexpr double kBeatsPerBar = host_constants::beats_per_bar;
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
// A written track source is read once its size and time stayed the same over this long after
// the writer closed it (a tool may write it in pieces, closing it between them): the wait of a
// rebuilt library, which keeps an edit on screen within 50 ms and a frame.
constexpr double kSourceStableSeconds = kLibraryStableSeconds;
// Reloads that must run on the main thread (programs rebuilt, models and images put in place)
// stop for the frame once they have taken this long, one step at least; a burst of changes is
// spread over the frames that follow.
constexpr double kReloadWorkSeconds = 0.008;
// Programs rebuilt between two frames: a driver may compile a program only when it is first
// drawn with, so the real cost of a rebuild lands in the frame after it.
constexpr int kProgramsPerFrame = 1;
// The track worker's niceness: reading and parsing a big source yields the processor to the
// frames (and the GL's own threads) instead of taking it from them.
constexpr int kTrackWorkerNice = 10;
// Failures of one burst (or one source) told one by one; the rest are counted.
constexpr int kMaxReportedFailures = 5;

// ---- console ----
// Where the system gives no file events, the terminal's copy looks at the log files this often.
constexpr int kTeeLookMilliseconds = 20;
// At the end, the copy onto a terminal that takes nothing is given up after this long.
constexpr double kTeeFinishSeconds = 5.0;
// After a crash, the same for the copy in the signal's handler (whole seconds: an alarm).
constexpr unsigned kTeeCrashCopySeconds = 2;
// How long a copy made outside the copying thread (a crash's, a full disk's) lets that thread
// finish the piece it is writing.
constexpr int kTeeCopierWaitMilliseconds = 200;

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
