// One request through the session every client uses, with bounds a test can wait for:
//   korvane-http-check URL IDLE_MS TOTAL_MS [USER PASSWORD]
// prints the status and the body, or "error: " and why there is none.
#include "support/HttpSession.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: korvane-http-check URL IDLE_MS TOTAL_MS [USER PASSWORD]\n");
        return 64;
    }
    HttpSession session({.requestTimeout = std::chrono::milliseconds(std::atol(argv[2])),
                         .totalTimeout = std::chrono::milliseconds(std::atol(argv[3]))});
    HttpSession::RequestOptions options;
    if (argc == 6) {
        options.basicAuth = HttpSession::Credential{argv[4], argv[5]};
    }
    HttpResult result = session.get(argv[1], {}, options);
    if (!result.ok()) {
        std::printf("error: %s\n", result.error.c_str());
        return 1;
    }
    std::printf("%ld %s", result.response->status, result.response->body.c_str());
    return 0;
}
