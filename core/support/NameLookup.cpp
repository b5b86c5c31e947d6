#include "support/NameLookup.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <memory>
#include <system_error>
#include <thread>

Expected<std::string> NameLookup::resolve(const std::string& host,
                                          std::chrono::steady_clock::time_point deadline) {
    auto state = std::make_shared<NameLookup>();
    try {
        std::thread([state, host] { state->run(host); }).detach();
    } catch (const std::system_error& failure) {
        return Failure{std::string("Could not start a name lookup: ") + failure.what()};
    }
    std::unique_lock guard(state->lock_);
    if (!state->finished_.wait_until(guard, deadline, [&state] { return state->done_; })) {
        return Failure{"Timeout was reached: no address for " + host + " in time"};
    }
    if (state->addresses_.empty()) {
        return Failure{"Could not resolve host: " + host + " (" + state->failure_ + ")"};
    }
    return state->addresses_;
}

void NameLookup::run(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    std::string addresses;
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
        if (("," + addresses + ",").find("," + shown + ",") == std::string::npos) {
            addresses += (addresses.empty() ? "" : ",") + shown;
        }
    }
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }
    std::lock_guard guard(lock_);
    addresses_ = std::move(addresses);
    failure_ = status == 0 ? "no address" : ::gai_strerror(status);
    done_ = true;
    finished_.notify_all();
}
