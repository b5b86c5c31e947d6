#include "network/NetworkChangeSource.hpp"

#include <algorithm>
#include <thread>

namespace {

// Where the platform cannot tell: look once a minute, and at the deadline.
class MinuteTicks final : public NetworkChangeSource {
public:
    bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) override {
        auto now = std::chrono::steady_clock::now();
        std::chrono::nanoseconds wait = nextCheck_ - now;
        if (timeout) {
            wait = std::min<std::chrono::nanoseconds>(wait, *timeout);
        }
        const std::chrono::nanoseconds untilDeadline = deadline - std::chrono::system_clock::now();
        wait = std::min(wait, std::max(untilDeadline, std::chrono::nanoseconds(0)));
        std::this_thread::sleep_for(wait);
        if (std::chrono::steady_clock::now() < nextCheck_) {
            return false;
        }
        nextCheck_ = std::chrono::steady_clock::now() + checkEvery;
        return true;
    }

private:
    static constexpr std::chrono::minutes checkEvery{1};
    std::chrono::steady_clock::time_point nextCheck_ = std::chrono::steady_clock::now() + checkEvery;
};

} // namespace

SnapshotComparison::SnapshotComparison(std::unique_ptr<NetworkChangeSource> mayHaveChanged)
    : mayHaveChanged_(std::move(mayHaveChanged)),
      last_(mayHaveChanged_->interfaces().value_or(InterfaceSnapshot{})) {}

bool SnapshotComparison::waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) {
    if (!mayHaveChanged_->waitForChange(deadline, timeout)) {
        return false;
    }
    std::optional<InterfaceSnapshot> current = mayHaveChanged_->interfaces();
    if (!current || *current == last_) {
        return false;
    }
    last_ = std::move(*current);
    return true;
}

std::unique_ptr<NetworkChangeSource> openNetworkChangeSource(const ClientLog& log) {
    Expected<std::unique_ptr<NetworkChangeSource>> platform = openPlatformNetworkChangeSource();
    if (!platform) {
        log.warn("Netzwerkänderungen nicht abonnierbar (" + platform.failure().text +
                 ") — Schnittstellen werden einmal pro Minute verglichen.");
        return std::make_unique<SnapshotComparison>(std::make_unique<MinuteTicks>());
    }
    return std::make_unique<SnapshotComparison>(std::move(*platform));
}
