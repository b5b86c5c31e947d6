#include "network/NetworkChangeSource.hpp"

#include "network/InterfaceSnapshot.hpp"

#include <thread>

namespace {

// Where the platform cannot tell: compare the interfaces once a minute, as often as the daemon wakes anyway.
class InterfacePollingSource final : public NetworkChangeSource {
public:
    bool waitForChange(std::chrono::milliseconds timeout) override {
        auto now = std::chrono::steady_clock::now();
        if (nextCheck_ - now > timeout) {
            std::this_thread::sleep_for(timeout);
            return false;
        }
        std::this_thread::sleep_for(nextCheck_ - now);
        nextCheck_ = std::chrono::steady_clock::now() + checkEvery;
        std::optional<InterfaceSnapshot> current = takeInterfaceSnapshot();
        if (!current || *current == last_) {
            return false;
        }
        last_ = std::move(*current);
        return true;
    }

private:
    static constexpr std::chrono::minutes checkEvery{1};
    InterfaceSnapshot last_ = takeInterfaceSnapshot().value_or(InterfaceSnapshot{});
    std::chrono::steady_clock::time_point nextCheck_ = std::chrono::steady_clock::now() + checkEvery;
};

} // namespace

std::unique_ptr<NetworkChangeSource> openNetworkChangeSource(const ClientLog& log) {
    PlatformNetworkChangeSource platform = openPlatformNetworkChangeSource();
    if (platform.source) {
        return std::move(platform.source);
    }
    log.warn("Netzwerkänderungen nicht abonnierbar (" + platform.failure +
             ") — Schnittstellen werden einmal pro Minute verglichen.");
    return std::make_unique<InterfacePollingSource>();
}
