// Linux: the kernel's routing messages (links, IPv4 and IPv6 addresses and routes) on a netlink socket.
// Any of them, and messages the kernel had to drop, mean the network may have changed; what they say is
// left to the comparison of snapshots.
#include "network/NetworkChangeSource.hpp"

#include "support/Descriptor.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class NetlinkSource final : public NetworkChangeSource {
public:
    explicit NetlinkSource(Descriptor netlink) : netlink_(std::move(netlink)) {}

    bool waitForChange(std::chrono::milliseconds timeout) override {
        pollfd ready{netlink_.get(), POLLIN, 0};
        auto waitMs = static_cast<int>(std::clamp<std::int64_t>(timeout.count(), 0, 60'000));
        if (poll(&ready, 1, waitMs) <= 0) {
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
};

} // namespace

PlatformNetworkChangeSource openPlatformNetworkChangeSource() {
    Descriptor netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!netlink.valid()) {
        return {nullptr, std::strerror(errno)};
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups =
        RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (bind(netlink.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return {nullptr, std::strerror(errno)};
    }
    return {std::make_unique<NetlinkSource>(std::move(netlink)), {}};
}
