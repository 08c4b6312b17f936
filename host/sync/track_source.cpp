// Parser of the track source. Depends on track_text for positions, values and names.
// It reports every problem it finds (so one run shows them all) and never touches files.
#include "host/sync/track_source.h"

#include <map>

#include "host/sync/track_text.h"

namespace {

struct cToken {
    std::string_view text;
    int column = 0;  // 1-based
};

// A line without its comment, cut into blank-separated tokens.
std::vector<cToken> tokens_of(std::string_view line) {
    std::vector<cToken> tokens;
    std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) tokens.push_back({line.substr(start, i - start), static_cast<int>(start) + 1});
    }
    return tokens;
}

// The text cut into lines; "\r\n" line ends and a leading byte-order mark are tolerated.
std::vector<std::string_view> lines_of(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

int end_column(std::string_view line) {
    std::size_t hash = line.find('#');
    std::string_view code = hash == std::string_view::npos ? line : line.substr(0, hash);
    while (!code.empty() && (code.back() == ' ' || code.back() == '\t')) code.remove_suffix(1);
    return static_cast<int>(code.size()) + 2;
}

}  // namespace

cParsedSource parse_track_source(std::string_view text) {
    cParsedSource parsed;
    std::map<std::string, int, std::less<>> header_lines;
    cSourceTrack* track = nullptr;
    int last_key_line = 0;
    auto problem = [&](int line, int column, std::string message) {
        parsed.problems.push_back({line, column, std::move(message)});
    };

    std::vector<std::string_view> lines = lines_of(text);
    for (std::size_t index = 0; index < lines.size(); ++index) {
        int line = static_cast<int>(index) + 1;
        std::vector<cToken> tokens = tokens_of(lines[index]);
        if (tokens.empty()) continue;

        if (tokens[0].text == "track") {
            track = nullptr;
            if (tokens.size() < 2) {
                problem(line, end_column(lines[index]), "'track' needs a name");
                continue;
            }
            if (tokens.size() > 2) {
                problem(line, tokens[2].column, "unexpected '" + std::string(tokens[2].text) + "' after the track name");
                continue;
            }
            std::string_view name = tokens[1].text;
            if (!is_valid_track_name(name)) {
                problem(line, tokens[1].column,
                        "track name '" + std::string(name) + "' may hold only letters, digits, '_' and '-' (at most 128)");
                continue;
            }
            auto seen = header_lines.find(name);
            if (seen != header_lines.end()) {
                problem(line, tokens[1].column,
                        "track '" + std::string(name) + "' is already defined at line " + std::to_string(seen->second));
                continue;
            }
            header_lines.emplace(std::string(name), line);
            parsed.tracks.push_back({std::string(name), line, {}, {}});
            track = &parsed.tracks.back();
            continue;
        }

        // A key line.
        if (header_lines.empty()) {
            problem(line, tokens[0].column, "key before the first 'track NAME' line");
            continue;
        }
        if (tokens.size() < 3) {
            const char* missing = tokens.size() == 1 ? "a value and an interpolation" : "an interpolation";
            problem(line, end_column(lines[index]),
                    std::string("missing ") + missing + " (a key is POSITION VALUE INTERPOLATION)");
            continue;
        }
        if (tokens.size() > 3) {
            problem(line, tokens[3].column, "unexpected '" + std::string(tokens[3].text) + "' after the interpolation");
            continue;
        }
        cTokenError error;
        std::optional<int32_t> row = parse_position(tokens[0].text, error);
        if (!row) problem(line, tokens[0].column, error.text);
        std::optional<float> value = parse_value(tokens[1].text, error);
        if (!value) problem(line, tokens[1].column, error.text);
        std::optional<int32_t> kind = interpolation_code(tokens[2].text);
        if (!kind) {
            problem(line, tokens[2].column,
                    "unknown interpolation '" + std::string(tokens[2].text) + "' (use step, linear, smooth or quadratic)");
        }
        // A key of a track whose header was refused is checked but not kept.
        if (!row || !value || !kind || !track) continue;
        if (!track->keys.empty()) {
            int32_t previous = track->keys.back().row;
            if (*row == previous) {
                problem(line, tokens[0].column,
                        "two keys on row " + std::to_string(*row) + " (" + format_position(*row) + "); the other is at line " +
                            std::to_string(last_key_line));
                continue;
            }
            if (*row < previous) {
                problem(line, tokens[0].column,
                        "key at row " + std::to_string(*row) + " (" + format_position(*row) +
                            ") comes after a later one at row " + std::to_string(previous) + " (line " +
                            std::to_string(last_key_line) + "); keys must go forward in time");
                continue;
            }
        }
        track->keys.push_back({*row, *value, *kind});
        track->key_lines.push_back(line);
        last_key_line = line;
    }
    if (parsed.problems.empty() && parsed.tracks.empty()) problem(1, 1, "no 'track NAME' line: the source defines no track");
    return parsed;
}

std::string canonical_track_lines(std::string_view text, std::string_view track_name) {
    std::string out;
    bool inside = false;
    for (std::string_view line : lines_of(text)) {
        std::vector<cToken> tokens = tokens_of(line);
        if (tokens.empty()) continue;
        if (tokens[0].text == "track") {
            if (inside) break;
            inside = tokens.size() == 2 && tokens[1].text == track_name;
        }
        if (!inside) continue;
        std::size_t hash = line.find('#');
        std::string_view code = hash == std::string_view::npos ? line : line.substr(0, hash);
        while (!code.empty() && (code.back() == ' ' || code.back() == '\t')) code.remove_suffix(1);
        out.append(code);
        out.push_back('\n');
    }
    return out;
}

std::string format_track(std::string_view name, const std::vector<cSyncKey>& keys) {
    std::string out = format_track_header(name) + "\n";
    for (const cSyncKey& key : keys) out += format_key_line(key) + "\n";
    return out;
}
