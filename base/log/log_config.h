// Fixed names and modes of the console's log files. Constants only; no code.
#pragma once
#include <sys/types.h>

// In the directory the player was started from.
constexpr const char* kStdoutLogName = "stdout.txt";
constexpr const char* kStderrLogName = "stderr.txt";
// What the show writes is for everyone on the machine to read; the development mode's logs
// hold the editor's address with its token, for their owner alone.
constexpr mode_t kLogFileMode = 0644;
constexpr mode_t kPrivateLogFileMode = 0600;
