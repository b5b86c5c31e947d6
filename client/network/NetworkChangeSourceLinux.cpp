// Linux: the kernel's routing messages (links, IPv4 and IPv6 addresses and routes) on a netlink socket.
// Any of them, and messages the kernel had to drop, mean the network may have changed; what they say is
// left to the comparison of snapshots. The deadline is a timer on the wall clock in the same poll: it fires
// as the machine wakes when the deadline passed in its sleep, and it is cancelled when the clock is set.
#include "network/NetworkChangeSource.hpp"

#include "support/Descriptor.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

class NetlinkSource final : public NetworkChangeSource {
public:
    NetlinkSource(Descriptor netlink, Descriptor timer)
        : netlink_(std::move(netlink)), timer_(std::move(timer)) {}

    bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) override {
        const itimerspec at{{}, wallTimespec(deadline)};
        timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &at, nullptr);
        pollfd ready[2] = {{netlink_.get(), POLLIN, 0}, {timer_.get(), POLLIN, 0}};
        if (poll(ready, 2, pollMilliseconds(timeout)) <= 0) {
            return false;
        }
        if (ready[1].revents != 0) {
            // The count of expiries, or ECANCELED when the clock was set: the caller looks at the clock
            // anyway.
            std::uint64_t expiries = 0;
            [[maybe_unused]] ssize_t read = ::read(timer_.get(), &expiries, sizeof expiries);
        }
        if (ready[0].revents == 0) {
            return false;
        }
        drain();
        return true;
    }

private:
    // Reads what is queued, a bounded number of reads: a flood leaves the rest for the next call, which
    // comes at once. ENOBUFS (the kernel dropped messages) is a wake-up like any message.
    void drain() {
        for (int reads = 0; reads < 64; ++reads) {
            alignas(nlmsghdr) char buffer[16384];
            if (recv(netlink_.get(), buffer, sizeof buffer, MSG_DONTWAIT) < 0 && errno != ENOBUFS &&
                errno != EINTR) {
                return;
            }
        }
    }

    Descriptor netlink_;
    Descriptor timer_;
};

} // namespace

Expected<std::unique_ptr<NetworkChangeSource>> openPlatformNetworkChangeSource() {
    Descriptor netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!netlink.valid()) {
        return Failure{std::strerror(errno), errno};
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups =
        RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (bind(netlink.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return Failure{std::strerror(errno), errno};
    }
    Descriptor timer(timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!timer.valid()) {
        return Failure{std::strerror(errno), errno};
    }
    return std::unique_ptr<NetworkChangeSource>(
        std::make_unique<NetlinkSource>(std::move(netlink), std::move(timer)));
}
