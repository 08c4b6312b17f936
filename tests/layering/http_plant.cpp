// Not part of any program: a library that uses the HTTP server and the JSON library the way a
// stray include in the runtime would, so that the link check is seen to catch such a use.
#include <httplib.h>

#include <nlohmann/json.hpp>

std::string planted_http_use() {
    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(nlohmann::json{{"planted", true}}.dump(), "application/json");
    });
    return server.is_valid() ? "valid" : "invalid";
}
