// The A/V offset of both modes: how many milliseconds later than the sound the picture is
// drawn, read from the environment variable DEMO_AV_OFFSET_MS (unset or empty: 0, the plain
// music time). Parsing and its one report line; never changes the clock itself.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

constexpr const char* kAvOffsetVariable = "DEMO_AV_OFFSET_MS";
// Beyond two seconds the picture belongs to another bar; no sound system delays that much.
constexpr int32_t kAvOffsetLimitMs = 2000;

// A whole number of milliseconds, optionally signed, within the limit ("40", "-15", "+5");
// nullopt for anything else.
std::optional<int32_t> parse_av_offset(const std::string& text);

// The offset the environment asks for. A malformed value is reported in one "# WARNING: " line
// on standard error and ignored (0); a value other than 0 is stated in one "# note: " line on
// standard output.
int32_t av_offset_from_environment();
