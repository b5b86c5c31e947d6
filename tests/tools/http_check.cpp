// One GET through the session every client uses, with bounds a test can wait for; prints the status and the
// body, or "error: " and why there is none.   korvane-http-check URL IDLE_MS TOTAL_MS [USER PASSWORD]
#include "support/HttpSession.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        return 64;
    }
    HttpSession session({.requestTimeout = std::chrono::milliseconds(std::atol(argv[2])),
                         .totalTimeout = std::chrono::milliseconds(std::atol(argv[3]))});
    HttpSession::RequestOptions options;
    if (argc == 6) {
        options.basicAuth = HttpSession::Credential{argv[4], argv[5]};
    }
    HttpResult result = session.get(argv[1], {}, options);
    result.ok() ? std::printf("%ld %s", result.response->status, result.response->body.c_str())
                : std::printf("error: %s\n", result.error.c_str());
    return result.ok() ? 0 : 1;
}
