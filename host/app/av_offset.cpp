// DEMO_AV_OFFSET_MS: parsing and reporting. Depends on the standard library only.
#include "host/app/av_offset.h"

#include <charconv>
#include <cstdlib>
#include <iostream>

std::optional<int32_t> parse_av_offset(const std::string& text) {
    std::string_view digits(text);
    // from_chars takes a leading '-' but no '+', and no blanks on either side.
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) return std::nullopt;
    }
    if (digits.empty()) return std::nullopt;
    int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (value < -kAvOffsetLimitMs || value > kAvOffsetLimitMs) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t av_offset_from_environment() {
    const char* text = std::getenv(kAvOffsetVariable);
    if (text == nullptr || *text == '\0') return 0;
    const std::optional<int32_t> offset = parse_av_offset(text);
    if (!offset) {
        std::cerr << "# WARNING: " << kAvOffsetVariable << "=\"" << text << "\" is not a whole number of milliseconds from "
                  << -kAvOffsetLimitMs << " to " << kAvOffsetLimitMs << "; the picture keeps the music's time" << std::endl;
        return 0;
    }
    if (*offset != 0) {
        std::cout << "# note: A/V offset " << (*offset > 0 ? "+" : "") << *offset << " ms (" << kAvOffsetVariable
                  << "): the picture is drawn " << std::abs(*offset) << " ms " << (*offset > 0 ? "later" : "earlier")
                  << " than the sound" << std::endl;
    }
    return *offset;
}
