#include "network/NetworkChangeSource.hpp"

#include <thread>

namespace {

// Where the platform cannot tell: look once a minute, as often as the daemon wakes anyway.
class MinuteTicks final : public NetworkChangeSource {
public:
    bool waitForChange(std::chrono::milliseconds timeout) override {
        auto now = std::chrono::steady_clock::now();
        if (nextCheck_ - now > timeout) {
            std::this_thread::sleep_for(timeout);
            return false;
        }
        std::this_thread::sleep_for(nextCheck_ - now);
        nextCheck_ = std::chrono::steady_clock::now() + checkEvery;
        return true;
    }

private:
    static constexpr std::chrono::minutes checkEvery{1};
    std::chrono::steady_clock::time_point nextCheck_ = std::chrono::steady_clock::now() + checkEvery;
};

} // namespace

SnapshotComparison::SnapshotComparison(std::unique_ptr<NetworkChangeSource> mayHaveChanged, Snapshots take)
    : mayHaveChanged_(std::move(mayHaveChanged)), take_(std::move(take)),
      last_(take_().value_or(InterfaceSnapshot{})) {}

bool SnapshotComparison::waitForChange(std::chrono::milliseconds timeout) {
    if (!mayHaveChanged_->waitForChange(timeout)) {
        return false;
    }
    std::optional<InterfaceSnapshot> current = take_();
    if (!current || *current == last_) {
        return false;
    }
    last_ = std::move(*current);
    return true;
}

std::unique_ptr<NetworkChangeSource> openNetworkChangeSource(const ClientLog& log) {
    PlatformNetworkChangeSource platform = openPlatformNetworkChangeSource();
    if (!platform.source) {
        log.warn("Netzwerkänderungen nicht abonnierbar (" + platform.failure +
                 ") — Schnittstellen werden einmal pro Minute verglichen.");
        platform.source = std::make_unique<MinuteTicks>();
    }
    return std::make_unique<SnapshotComparison>(std::move(platform.source));
}
