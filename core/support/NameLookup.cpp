#include "support/NameLookup.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <future>
#include <system_error>
#include <thread>

namespace NameLookup {
namespace {

// What getaddrinfo says, each address once, in its order.
Expected<std::string> lookUp(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    std::string listed;
    for (addrinfo* entry = status == 0 ? found : nullptr; entry != nullptr; entry = entry->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = nullptr;
        if (entry->ai_family == AF_INET) {
            raw = &reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr;
        } else if (entry->ai_family == AF_INET6) {
            raw = &reinterpret_cast<sockaddr_in6*>(entry->ai_addr)->sin6_addr;
        }
        if (raw == nullptr || ::inet_ntop(entry->ai_family, raw, text, sizeof text) == nullptr) {
            continue;
        }
        std::string shown = entry->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : text;
        if (("," + listed + ",").find("," + shown + ",") == std::string::npos) {
            listed += (listed.empty() ? "" : ",") + shown;
        }
    }
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }
    if (listed.empty()) {
        return Failure{"Could not resolve host: " + host + " (" +
                       (status == 0 ? "no address" : ::gai_strerror(status)) + ")"};
    }
    return listed;
}

} // namespace

Expected<std::string> resolve(const std::string& host, std::chrono::steady_clock::time_point deadline) {
    std::promise<Expected<std::string>> promise;
    std::future<Expected<std::string>> answer = promise.get_future();
    try {
        std::thread([promise = std::move(promise), host]() mutable {
            promise.set_value(lookUp(host));
        }).detach();
    } catch (const std::system_error& failure) {
        return Failure{std::string("Could not start a name lookup: ") + failure.what()};
    }
    if (answer.wait_until(deadline) != std::future_status::ready) {
        return Failure{"Timeout was reached: no address for " + host + " in time"};
    }
    return answer.get();
}

} // namespace NameLookup
