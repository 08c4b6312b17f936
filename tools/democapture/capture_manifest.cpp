// Writing and reading the range record of a capture. Standard library only.
#include "tools/democapture/capture_manifest.h"

#include <charconv>
#include <map>

#include "tools/democapture/capture_config.h"

namespace {

bool read_number(const std::map<std::string, std::string>& fields, const char* key, int64_t& out) {
    const auto it = fields.find(key);
    if (it == fields.end()) return false;
    const std::string& text = it->second;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::string manifest_text(const cRangeManifest& m, char separator) {
    std::string text = capture_config::manifest_magic;
    auto field = [&](const char* key, const std::string& value) { text += separator + std::string(key) + "=" + value; };
    field("output", m.output);
    field("fps", std::to_string(m.fps));
    field("first_frame", std::to_string(m.first_frame));
    field("frames", std::to_string(m.frames));
    field("from_ms", std::to_string(m.from_ms));
    field("to_ms", std::to_string(m.to_ms));
    field("size", std::to_string(m.width) + "x" + std::to_string(m.height));
    field("supersample", std::to_string(m.supersample));
    if (m.crf >= 0) field("crf", std::to_string(m.crf));
    field("show", m.show);
    field("build", m.build);
    if (separator == '\n') text += '\n';
    return text;
}

bool parse_manifest(const std::string& text, cRangeManifest& m, std::string& error) {
    std::map<std::string, std::string> fields;
    bool magic = false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(";\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line == capture_config::manifest_magic) {
            magic = true;
        } else if (const size_t eq = line.find('='); eq != std::string::npos) {
            fields[line.substr(0, eq)] = line.substr(eq + 1);
        }
        start = end + 1;
    }
    if (!magic) {
        error = "it is not a democapture range record";
        return false;
    }
    int64_t fps = 0, supersample = 0, crf = -1, width = 0, height = 0;
    const auto size = fields.find("size");
    const size_t x = size == fields.end() ? std::string::npos : size->second.find('x');
    if (x != std::string::npos) {
        fields["width"] = size->second.substr(0, x);
        fields["height"] = size->second.substr(x + 1);
    }
    const auto output = fields.find("output");
    if (output == fields.end() || !read_number(fields, "fps", fps) || !read_number(fields, "first_frame", m.first_frame) ||
        !read_number(fields, "frames", m.frames) || !read_number(fields, "from_ms", m.from_ms) ||
        !read_number(fields, "to_ms", m.to_ms) || !read_number(fields, "width", width) ||
        !read_number(fields, "height", height) || !read_number(fields, "supersample", supersample) || fps <= 0 ||
        m.frames <= 0 || m.first_frame < 0) {
        error = "its range record is damaged";
        return false;
    }
    if (fields.count("crf") && !read_number(fields, "crf", crf)) {
        error = "its range record is damaged";
        return false;
    }
    if (fields["show"].empty() || fields["build"].empty()) {
        error = "its record does not say which show and build it was captured from (an older democapture made "
                "it); capture it again";
        return false;
    }
    m.show = fields["show"];
    m.build = fields["build"];
    m.output = output->second;
    m.fps = static_cast<int32_t>(fps);
    m.width = static_cast<int32_t>(width);
    m.height = static_cast<int32_t>(height);
    m.supersample = static_cast<int32_t>(supersample);
    m.crf = static_cast<int32_t>(crf);
    return true;
}

std::string manifest_mismatch(const cRangeManifest& a, const cRangeManifest& b) {
    auto size = [](const cRangeManifest& m) { return std::to_string(m.width) + "x" + std::to_string(m.height); };
    if (a.output != b.output) return "output " + a.output + " and " + b.output;
    if (a.fps != b.fps) return std::to_string(a.fps) + " and " + std::to_string(b.fps) + " fps";
    if (size(a) != size(b)) return "sizes " + size(a) + " and " + size(b);
    if (a.supersample != b.supersample) {
        return "supersampling " + std::to_string(a.supersample) + " and " + std::to_string(b.supersample);
    }
    if (a.crf != b.crf) return "crf " + std::to_string(a.crf) + " and " + std::to_string(b.crf);
    if (a.show != b.show) return "different shows: their data or scene modules differ";
    if (a.build != b.build) return "different builds of democapture";
    return "";
}
