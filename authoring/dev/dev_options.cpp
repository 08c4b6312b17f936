// The player's command line. Pure string work over the arguments.
#include "authoring/dev/dev_options.h"

#include <charconv>

namespace {

bool parse_port(const std::string& text, int32_t& port) {
    int64_t value = -1;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
    if (value < 0 || value > 65535) return false;
    port = static_cast<int32_t>(value);
    return true;
}

}  // namespace

bool parse_player_options(const std::vector<std::string>& args, cPlayerOptions& options, std::string& reason) {
    using namespace dev_config;
    options = cPlayerOptions{};
    bool port_given = false;
    const std::string port_prefix = std::string(kEditorPortOption) + "=";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == kDevOption) {
            if (options.dev) {
                reason = std::string(kDevOption) + " given twice";
                return false;
            }
            options.dev = true;
            continue;
        }
        if (arg == kWindowedOption) {
            if (options.windowed) {
                reason = std::string(kWindowedOption) + " given twice";
                return false;
            }
            options.windowed = true;  // the development mode's window is one already
            continue;
        }
        std::string value;
        if (arg == kEditorPortOption) {
            if (i + 1 >= args.size()) {
                reason = std::string(kEditorPortOption) + " needs a port number";
                return false;
            }
            value = args[++i];
        } else if (arg.rfind(port_prefix, 0) == 0) {
            value = arg.substr(port_prefix.size());
        } else {
            reason = "unknown argument '" + arg + "'";
            return false;
        }
        if (port_given) {
            reason = std::string(kEditorPortOption) + " given twice";
            return false;
        }
        if (!parse_port(value, options.dev_options.editor_port)) {
            reason = "'" + value + "' is not a port number from 0 to 65535";
            return false;
        }
        port_given = true;
    }
    if (port_given && !options.dev) {
        reason = std::string(kEditorPortOption) + " only goes with " + kDevOption;
        return false;
    }
    return true;
}
