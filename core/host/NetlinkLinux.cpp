#include "host/Netlink.hpp"

#include <algorithm>
#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

// The kernel fills a dump's messages to at most 32 KiB, so no message is cut off in this buffer.
constexpr std::size_t bufferBytes = 32768;
// 8 MiB of one answer: far beyond any machine's addresses and routes, short of a kernel gone wrong.
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

// One datagram: true when it ended the answer.
Expected<bool> Netlink::receive(const Message& message) {
    alignas(nlmsghdr) char buffer[bufferBytes];
    sockaddr_nl from{};
    iovec part{buffer, bufferBytes};
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
    std::size_t at = 0;
    while (length - at >= sizeof(nlmsghdr)) {
        const auto* each = reinterpret_cast<const nlmsghdr*>(buffer + at);
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
            if (each->nlmsg_len < NLMSG_LENGTH(sizeof *error) || error->error > 0) {
                return Failure::of("netlink", EPROTO);
            }
            return error->error == 0 ? Expected<bool>(true) : Failure::of("netlink", -error->error);
        }
        message(*each);
        if (!(each->nlmsg_flags & NLM_F_MULTI)) {
            return true; // the one reply to a request that is no dump
        }
    }
    return false;
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
