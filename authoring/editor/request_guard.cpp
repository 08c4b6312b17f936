// Host, Origin and token checks of every editor request. Depends on cpp-httplib's request
// record and getrandom. A request that fails a check never reaches a handler.
#include "authoring/editor/request_guard.h"

#include <httplib.h>
#include <sys/random.h>

#include <cerrno>

#include "authoring/editor/editor_config.h"

namespace {

// Compares in a time that does not depend on where the texts differ.
bool same_secret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool is_own_host(const std::string& host, int port) {
    std::string h = lower(host);
    std::string suffix = ":" + std::to_string(port);
    return h == std::string(editor_config::listen_host) + suffix || h == "localhost" + suffix;
}

std::string cookie_value(const std::string& header, const std::string& name) {
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::size_t first = header.find_first_not_of(' ', at);
        if (first < end) {
            std::string pair = header.substr(first, end - first);
            std::size_t eq = pair.find('=');
            if (eq != std::string::npos && pair.compare(0, eq, name) == 0) return pair.substr(eq + 1);
        }
        at = end + 1;
    }
    return {};
}

std::string cookie_name(int port) { return editor_config::token_cookie_prefix + std::to_string(port); }

}  // namespace

std::string make_editor_token() {
    unsigned char bytes[editor_config::token_bytes];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<std::size_t>(n);
    }
    static const char* kHex = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token.push_back(kHex[b >> 4]);
        token.push_back(kHex[b & 15]);
    }
    return token;
}

cGuardVerdict check_request(const httplib::Request& request, const cEditorAddress& address) {
    // A name that resolves to this machine (DNS rebinding) still sends its own Host.
    if (!is_own_host(request.get_header_value("Host"), address.port)) {
        return {403, "this editor answers only to its own address"};
    }
    // Browsers send Origin with every request that could change something from another
    // page (every POST, every cross-origin fetch and event stream); programs such as curl
    // send none and are held by the token alone.
    if (request.has_header("Origin")) {
        std::string origin = lower(request.get_header_value("Origin"));
        std::string port = ":" + std::to_string(address.port);
        if (origin != "http://" + std::string(editor_config::listen_host) + port && origin != "http://localhost" + port) {
            return {403, "requests from other pages are refused"};
        }
    }
    if (request.has_header("Sec-Fetch-Site")) {
        std::string site = request.get_header_value("Sec-Fetch-Site");
        if (site != "same-origin" && site != "none") return {403, "requests from other pages are refused"};
    }
    std::string token = request.get_header_value(editor_config::token_header);
    if (token.empty()) token = request.get_param_value(editor_config::token_query);
    if (token.empty()) token = cookie_value(request.get_header_value("Cookie"), cookie_name(address.port));
    if (token.empty()) return {401, "the editor's token is missing: open the address the player printed"};
    if (!same_secret(token, address.token)) {
        return {401, "wrong token: the player was restarted or this is not its address; open the one it printed"};
    }
    return {};
}

std::string token_cookie(const cEditorAddress& address) {
    return cookie_name(address.port) + "=" + address.token + "; Path=/; HttpOnly; SameSite=Strict";
}
