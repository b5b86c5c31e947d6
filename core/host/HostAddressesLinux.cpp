// Linux: two dumps on a route netlink socket of our own, the links (names, flags) and then the addresses
// with their flags and lifetimes, which getifaddrs leaves out. What the kernel sends is read as carefully as
// any peer's answer: bounded in size, time and number, and only the replies to our own requests.
#include "host/HostAddresses.hpp"

#include "support/Descriptor.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <vector>

namespace {

// The kernel's mark for a lifetime without end (INFINITY_LIFE_TIME in its <net/addrconf.h>).
constexpr std::uint32_t forEver = 0xffffffffU;
// The kernel fills a dump's messages to at most 32 KiB, so no message is cut off in this buffer.
constexpr std::size_t bufferBytes = 32768;
// 8 MiB of one dump: far beyond any machine's addresses, short of a kernel gone wrong.
constexpr int maxReads = 256;

using Message = std::function<void(const nlmsghdr&)>;

class Netlink {
public:
    Expected<void> open() {
        socket_ = Descriptor(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
        if (!socket_.valid()) {
            return Failure::of("netlink", errno);
        }
        const timeval bound{2, 0}; // the kernel answers a dump at once; a silent socket must not hang a cycle
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        socklen_t length = sizeof local;
        if (setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) != 0 ||
            bind(socket_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            return Failure::of("netlink", errno);
        }
        port_ = local.nl_pid;
        return {};
    }

    // Asks for a dump of `type` and hands each of its messages to `message`, until the kernel says done.
    Expected<void> dump(std::uint16_t type, const Message& message) {
        struct {
            nlmsghdr header;
            rtgenmsg body; // the family only: AF_UNSPEC, all of them
        } request{};
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.body);
        request.header.nlmsg_type = type;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.header.nlmsg_seq = ++sequence_;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (sendto(socket_.get(), &request, request.header.nlmsg_len, 0,
                   reinterpret_cast<const sockaddr*>(&kernel),
                   sizeof kernel) != static_cast<ssize_t>(request.header.nlmsg_len)) {
            return Failure::of("netlink", errno);
        }
        for (int reads = 0; reads < maxReads; ++reads) {
            Expected<bool> done = receive(message);
            if (!done || *done) {
                return done ? Expected<void>() : Expected<void>(done.failure());
            }
        }
        return Failure{"netlink: dump without end", 0};
    }

private:
    // One datagram: true when it ended the dump.
    Expected<bool> receive(const Message& message) {
        sockaddr_nl from{};
        iovec part{buffer_.data(), bufferBytes};
        msghdr header{};
        header.msg_name = &from;
        header.msg_namelen = sizeof from;
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        ssize_t got = recvmsg(socket_.get(), &header, 0);
        if (got < 0) {
            return errno == EINTR ? Expected<bool>(false) : Expected<bool>(Failure::of("netlink", errno));
        }
        if (header.msg_flags & MSG_TRUNC) {
            return Failure{"netlink: message cut off", 0};
        }
        if (from.nl_pid != 0) {
            return false; // not from the kernel
        }
        const auto length = static_cast<std::size_t>(got);
        const auto* bytes = reinterpret_cast<const char*>(buffer_.data());
        std::size_t at = 0;
        while (length - at >= sizeof(nlmsghdr)) {
            const auto* each = reinterpret_cast<const nlmsghdr*>(bytes + at);
            if (each->nlmsg_len < sizeof(nlmsghdr) || each->nlmsg_len > length - at) {
                return Failure{"netlink: a message runs past its datagram", 0};
            }
            at = std::min<std::size_t>(length, at + NLMSG_ALIGN(each->nlmsg_len));
            if (each->nlmsg_seq != sequence_ || each->nlmsg_pid != port_) {
                continue; // a reply to an earlier request
            }
            if (each->nlmsg_type == NLMSG_DONE) {
                return true;
            }
            if (each->nlmsg_type == NLMSG_ERROR) {
                const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(each));
                bool whole = each->nlmsg_len >= NLMSG_LENGTH(sizeof *error);
                return Failure::of("netlink", whole && error->error < 0 ? -error->error : EPROTO);
            }
            message(*each);
        }
        return false;
    }

    Descriptor socket_{-1};
    std::uint32_t port_ = 0;
    std::uint32_t sequence_ = 0;
    std::vector<std::uint32_t> buffer_ = std::vector<std::uint32_t>(bufferBytes / sizeof(std::uint32_t));
};

// The attributes after a message's fixed part, each checked to lie inside the message.
template <typename Body, typename Each> void forEachAttribute(const nlmsghdr& message, Each each) {
    if (message.nlmsg_len < NLMSG_LENGTH(sizeof(Body))) {
        return;
    }
    const auto* body = static_cast<const Body*>(NLMSG_DATA(&message));
    auto length = static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(Body)));
    for (auto* attribute =
             reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(body) + NLMSG_ALIGN(sizeof(Body)));
         RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        each(*attribute, RTA_PAYLOAD(attribute), RTA_DATA(attribute));
    }
}

void addInterface(std::map<unsigned, HostInterface>& interfaces, const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWLINK || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return;
    }
    const auto& link = *static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    HostInterface interface;
    interface.index = static_cast<unsigned>(link.ifi_index);
    interface.running = (link.ifi_flags & (IFF_UP | IFF_RUNNING)) == (IFF_UP | IFF_RUNNING);
    interface.loopback = (link.ifi_flags & IFF_LOOPBACK) != 0;
    forEachAttribute<ifinfomsg>(message, [&](const rtattr& attribute, std::size_t size, const void* data) {
        const auto* text = static_cast<const char*>(data);
        if (attribute.rta_type == IFLA_IFNAME && size <= IFNAMSIZ) {
            interface.name.assign(text, strnlen(text, size));
        }
    });
    if (link.ifi_index > 0 && !interface.name.empty()) {
        interfaces[interface.index] = std::move(interface);
    }
}

void addAddress(std::vector<HostAddress>& addresses, const std::map<unsigned, HostInterface>& interfaces,
                const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWADDR || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
        return;
    }
    const auto& header = *static_cast<const ifaddrmsg*>(NLMSG_DATA(&message));
    const std::size_t size = header.ifa_family == AF_INET6 ? 16 : header.ifa_family == AF_INET ? 4 : 0;
    const auto interface = interfaces.find(header.ifa_index);
    if (size == 0 || interface == interfaces.end() || header.ifa_prefixlen > size * 8) {
        return; // another family, or a link that came after the links were read
    }
    const void* address = nullptr;
    const void* local = nullptr;
    std::uint32_t flags = header.ifa_flags;
    std::optional<std::chrono::seconds> preferred;
    forEachAttribute<ifaddrmsg>(message, [&](const rtattr& attribute, std::size_t length, const void* data) {
        if ((attribute.rta_type == IFA_ADDRESS || attribute.rta_type == IFA_LOCAL) && length == size) {
            (attribute.rta_type == IFA_LOCAL ? local : address) = data;
        } else if (attribute.rta_type == IFA_FLAGS && length >= sizeof flags) {
            std::memcpy(&flags, data, sizeof flags);
        } else if (attribute.rta_type == IFA_CACHEINFO && length >= sizeof(ifa_cacheinfo)) {
            ifa_cacheinfo lifetimes;
            std::memcpy(&lifetimes, data, sizeof lifetimes);
            preferred = lifetimes.ifa_prefered == forEver
                            ? std::nullopt
                            : std::optional<std::chrono::seconds>(lifetimes.ifa_prefered);
        }
    });
    // On a point-to-point link IFA_ADDRESS is the peer's and IFA_LOCAL ours.
    const void* own = local != nullptr ? local : address;
    char text[INET6_ADDRSTRLEN] = {};
    if (own == nullptr || inet_ntop(header.ifa_family, own, text, sizeof text) == nullptr) {
        return;
    }
    const bool v6 = header.ifa_family == AF_INET6;
    addresses.push_back({.interfaceName = interface->second.name,
                         .interfaceIndex = header.ifa_index,
                         .family = header.ifa_family,
                         .address = text,
                         .prefixLength = header.ifa_prefixlen,
                         .temporary = v6 && (flags & IFA_F_TEMPORARY) != 0, // IPv4's "secondary" otherwise
                         .deprecated = (flags & IFA_F_DEPRECATED) != 0,
                         .secured = (flags & IFA_F_STABLE_PRIVACY) != 0,
                         .dhcp = false, // a DHCPv6 client's lease looks like any address given by hand
                         .tentative = (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) != 0,
                         .preferredLifetime = preferred});
}

} // namespace

Expected<HostAddresses> readHostAddresses() {
    Netlink netlink;
    if (Expected<void> opened = netlink.open(); !opened) {
        return opened.failure();
    }
    std::map<unsigned, HostInterface> interfaces;
    if (Expected<void> links =
            netlink.dump(RTM_GETLINK, [&](const nlmsghdr& m) { addInterface(interfaces, m); });
        !links) {
        return links.failure();
    }
    HostAddresses host;
    if (Expected<void> all =
            netlink.dump(RTM_GETADDR, [&](const nlmsghdr& m) { addAddress(host.addresses, interfaces, m); });
        !all) {
        return all.failure();
    }
    for (auto& [index, interface] : interfaces) {
        host.interfaces.push_back(std::move(interface));
    }
    return host;
}
