#include "support/NameLookup.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace NameLookup {
namespace {

// Shared by the waiting caller and the lookup thread, which may outlive it.
struct Lookup {
    void run(const std::string& host);

    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::string addresses;
    std::string why;
};

void Lookup::run(const std::string& host) {
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
    std::lock_guard guard(lock);
    addresses = std::move(listed);
    why = status == 0 ? "no address" : ::gai_strerror(status);
    done = true;
    finished.notify_all();
}

} // namespace

Expected<std::string> resolve(const std::string& host, std::chrono::steady_clock::time_point deadline) {
    auto state = std::make_shared<Lookup>();
    try {
        std::thread([state, host] { state->run(host); }).detach();
    } catch (const std::system_error& failure) {
        return Failure{std::string("Could not start a name lookup: ") + failure.what()};
    }
    std::unique_lock guard(state->lock);
    if (!state->finished.wait_until(guard, deadline, [&state] { return state->done; })) {
        return Failure{"Timeout was reached: no address for " + host + " in time"};
    }
    if (state->addresses.empty()) {
        return Failure{"Could not resolve host: " + host + " (" + state->why + ")"};
    }
    return state->addresses;
}

} // namespace NameLookup
