// Linux: the kernel's routing messages (links, IPv4 and IPv6 addresses and routes) on a netlink socket. A
// message counts when the interfaces' snapshot changed or a default route came or went, so that the
// lifetime refreshes of router advertisements and DHCP renewals cost no cycle.
#include "network/NetworkChangeSource.hpp"

#include "network/InterfaceSnapshot.hpp"

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
    explicit NetlinkSource(int fd) : fd_(fd) {}
    ~NetlinkSource() override { close(fd_); }
    NetlinkSource(const NetlinkSource&) = delete;
    NetlinkSource& operator=(const NetlinkSource&) = delete;

    bool waitForChange(std::chrono::milliseconds timeout) override {
        pollfd ready{fd_, POLLIN, 0};
        auto waitMs = static_cast<int>(std::clamp<std::int64_t>(timeout.count(), 0, 60'000));
        if (poll(&ready, 1, waitMs) <= 0) {
            return false;
        }
        bool changed = drainCountsAsChange();
        std::optional<InterfaceSnapshot> current = takeInterfaceSnapshot();
        if (current && *current != last_) {
            last_ = std::move(*current);
            changed = true;
        }
        return changed;
    }

private:
    // Reads what is queued (a bounded number of reads, the rest waits for the next call); true when a
    // default route changed or messages were lost.
    bool drainCountsAsChange() {
        bool counts = false;
        for (int reads = 0; reads < 64; ++reads) {
            alignas(nlmsghdr) char buffer[16384];
            sockaddr_nl sender{};
            socklen_t senderLength = sizeof sender;
            ssize_t length = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (length < 0) {
                // ENOBUFS: the kernel dropped messages; whatever they said may have mattered.
                counts = counts || errno == ENOBUFS;
                if (errno == ENOBUFS || errno == EINTR) {
                    continue;
                }
                return counts;
            }
            if (sender.nl_pid == 0) {
                counts = counts || holdsDefaultRouteChange(buffer, static_cast<std::size_t>(length));
            }
        }
        return counts;
    }

    static bool holdsDefaultRouteChange(const char* buffer, std::size_t length) {
        auto remaining = static_cast<unsigned>(length);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            bool route = message->nlmsg_type == RTM_NEWROUTE || message->nlmsg_type == RTM_DELROUTE;
            if (!route || message->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
                continue;
            }
            const auto* body = static_cast<const rtmsg*>(NLMSG_DATA(message));
            if (body->rtm_dst_len == 0 && body->rtm_table == RT_TABLE_MAIN) {
                return true;
            }
        }
        return false;
    }

    int fd_;
    InterfaceSnapshot last_ = takeInterfaceSnapshot().value_or(InterfaceSnapshot{});
};

} // namespace

PlatformNetworkChangeSource openPlatformNetworkChangeSource() {
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return {nullptr, std::strerror(errno)};
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups =
        RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::string failure = std::strerror(errno);
        close(fd);
        return {nullptr, failure};
    }
    return {std::make_unique<NetlinkSource>(fd), {}};
}
