// Who may talk to the editor: requests for the editor's own address (Host), from its own page
// (Origin, Sec-Fetch-Site), carrying the token made at start (header, query or cookie). Pure
// checks over the request's headers; no I/O apart from the random source of the token.
#pragma once
#include <string>

namespace httplib {
struct Request;
}

struct cEditorAddress {
    int port = 0;
    std::string token;
};

// 32 hexadecimal digits from the kernel's random source; empty when it cannot be read.
std::string make_editor_token();

struct cGuardVerdict {
    int status = 0;       // 0: the request may go on; else 403 (foreign Host or Origin) or 401 (token)
    std::string reason;
};

cGuardVerdict check_request(const httplib::Request& request, const cEditorAddress& address);

// The Set-Cookie value that lets the page's own files and streams carry the token.
std::string token_cookie(const cEditorAddress& address);
