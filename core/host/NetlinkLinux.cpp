#include "host/Netlink.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

// One datagram holds at least one whole message, whose size the kernel tells before it is read: a link's
// with hundreds of long alternative names passes 32 KiB. Far below this all the same.
constexpr std::size_t maxDatagramBytes = 1 << 20;
// Far beyond any machine's addresses and routes, short of a kernel gone wrong.
constexpr int maxReads = 256;

} // namespace

Expected<void> Netlink::open() {
    socket_ = Descriptor(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket_.valid()) {
        return Failure::of("netlink", errno);
    }
    const timeval bound{2, 0}; // the kernel answers at once; a silent socket must not hang a cycle
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

Expected<void> Netlink::ask(nlmsghdr& request, const Message& message) {
    request.nlmsg_seq = ++sequence_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(socket_.get(), &request, request.nlmsg_len, 0, reinterpret_cast<const sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(request.nlmsg_len)) {
        return Failure::of("netlink", errno);
    }
    for (int reads = 0; reads < maxReads; ++reads) {
        Expected<bool> done = receive(message);
        if (!done || *done) {
            return done ? Expected<void>() : Expected<void>(done.failure());
        }
    }
    return Failure{"netlink: answer without end", 0};
}

Expected<void> Netlink::dump(std::uint16_t type, const Message& message) {
    struct {
        nlmsghdr header;
        rtgenmsg body; // the family only: AF_UNSPEC, all of them
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.body);
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    return ask(request.header, message);
}

// One datagram, read whole into a buffer of its size: true when it ended the answer.
Expected<bool> Netlink::receive(const Message& message) {
    const ssize_t size = recv(socket_.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC);
    if (size < 0) {
        return errno == EINTR ? Expected<bool>(false) : Expected<bool>(Failure::of("netlink", errno));
    }
    if (static_cast<std::size_t>(size) > maxDatagramBytes) {
        return Failure::of("netlink", EMSGSIZE);
    }
    buffer_.resize(std::max<std::size_t>(static_cast<std::size_t>(size), 1));
    sockaddr_nl from{};
    iovec part{buffer_.data(), buffer_.size()};
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
        return Failure{"netlink: message cut off", EMSGSIZE};
    }
    if (from.nl_pid != 0) {
        return false; // not from the kernel
    }
    const auto length = static_cast<std::size_t>(got);
    std::size_t at = 0;
    while (length - at >= sizeof(nlmsghdr)) {
        const auto* each = reinterpret_cast<const nlmsghdr*>(buffer_.data() + at);
        if (each->nlmsg_len < sizeof(nlmsghdr) || each->nlmsg_len > length - at) {
            return Failure{"netlink: a message runs past its datagram", 0};
        }
        at = std::min<std::size_t>(length, at + NLMSG_ALIGN(each->nlmsg_len));
        if (each->nlmsg_seq != sequence_ || each->nlmsg_pid != port_) {
            continue; // a reply to an earlier request
        }
        if (each->nlmsg_flags & NLM_F_DUMP_INTR) {
            return Failure::of("netlink: the kernel's tables changed during the answer", EAGAIN);
        }
        if (each->nlmsg_type == NLMSG_DONE || each->nlmsg_type == NLMSG_ERROR) {
            return ended(*each);
        }
        message(*each);
        if (!(each->nlmsg_flags & NLM_F_MULTI)) {
            return true; // the one reply to a request that is no dump
        }
    }
    return false;
}

// The end of an answer carries the kernel's errno: a refusal, or a dump that stopped at a message too large
// for the kernel's buffer (EMSGSIZE), after which every later entry is missing.
Expected<bool> Netlink::ended(const nlmsghdr& end) {
    const bool refusal = end.nlmsg_type == NLMSG_ERROR;
    int error = 0;
    if (end.nlmsg_len >= NLMSG_LENGTH(refusal ? sizeof(nlmsgerr) : sizeof error)) {
        std::memcpy(&error, NLMSG_DATA(&end), sizeof error); // nlmsgerr begins with it
    } else if (refusal) {
        return Failure::of("netlink", EPROTO);
    }
    if (error > 0) {
        return Failure::of("netlink", EPROTO);
    }
    return error == 0 ? Expected<bool>(true)
                      : Failure::of(refusal ? "netlink" : "netlink: answer cut short", -error);
}

void Netlink::forEachAttribute(const nlmsghdr& message, std::size_t bodySize, const Attribute& each) {
    if (message.nlmsg_len < NLMSG_LENGTH(bodySize)) {
        return;
    }
    auto length = static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(bodySize));
    for (auto* attribute = reinterpret_cast<const rtattr*>(static_cast<const char*>(NLMSG_DATA(&message)) +
                                                           NLMSG_ALIGN(bodySize));
         RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        each(attribute->rta_type, RTA_PAYLOAD(attribute), RTA_DATA(attribute));
    }
}
