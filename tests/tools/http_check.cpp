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
    HttpSession session = HttpSession::open({.requestTimeout = std::chrono::milliseconds(std::atol(argv[2])),
                                             .totalTimeout = std::chrono::milliseconds(std::atol(argv[3])),
                                             .trust = HttpTrust::fromEnvironment()});
    HttpSession::RequestOptions options;
    if (argc == 6) {
        options.basicAuth = HttpSession::Credential{argv[4], argv[5]};
    }
    Expected<HttpResponse> result = session.get(argv[1], {}, options);
    result ? std::printf("%ld %s", result->status, result->body.c_str())
           : std::printf("error: %s\n", result.failure().text.c_str());
    return result ? 0 : 1;
}
