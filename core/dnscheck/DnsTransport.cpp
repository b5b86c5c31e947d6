#include "dnscheck/DnsTransport.hpp"

#include "dnscheck/ResolverLibrary.hpp"
#include "status/IpAddress.hpp"
#include "support/Descriptor.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using DnsTransport::Peer;

Descriptor openSocket(int family, int type) {
    Descriptor fd(socket(family, type, 0));
    if (fd.valid()) {
        fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
        ResolverLibrary::preventSigpipe(fd.get());
    }
    return fd;
}

bool samePeer(const sockaddr_storage& from, const Peer& peer) {
    if (from.ss_family != peer.address.ss_family) {
        return false;
    }
    if (from.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(from);
        const auto& b = reinterpret_cast<const sockaddr_in&>(peer.address);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto& a = reinterpret_cast<const sockaddr_in6&>(from);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(peer.address);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}

std::optional<DnsMessage::Bytes> overUdp(const Peer& peer, const DnsMessage::Bytes& query,
                                         DnsTransport::Deadline deadline) {
    // Unconnected: the kernel picks a fresh random port; replies from anyone else are dropped below.
    Descriptor fd = openSocket(peer.address.ss_family, SOCK_DGRAM);
    if (!fd.valid() || sendto(fd.get(), query.data(), query.size(), ResolverLibrary::sendFlags(),
                              reinterpret_cast<const sockaddr*>(&peer.address), peer.length) < 0) {
        return std::nullopt;
    }
    DnsMessage::Bytes buffer(DnsMessage::maximumSize);
    while (awaitReady(fd.get(), POLLIN, deadline)) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        ssize_t got = recvfrom(fd.get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                               &fromLength);
        if (got > 0 && samePeer(from, peer) &&
            DnsMessage::isReplyTo({buffer.data(), static_cast<std::size_t>(got)}, query)) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
    }
    return std::nullopt;
}

bool sendAll(int fd, const DnsMessage::Bytes& bytes, DnsTransport::Deadline deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, ResolverLibrary::sendFlags());
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
        } else if (!(sent < 0 && (errno == EAGAIN || errno == EINTR) && awaitReady(fd, POLLOUT, deadline))) {
            return false;
        }
    }
    return true;
}

bool receiveExactly(int fd, unsigned char* into, std::size_t size, DnsTransport::Deadline deadline) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = recv(fd, into + done, size - done, 0);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (!(got < 0 && (errno == EAGAIN || errno == EINTR) && awaitReady(fd, POLLIN, deadline))) {
            return false;
        }
    }
    return true;
}

std::optional<DnsMessage::Bytes> overTcp(const Peer& peer, const DnsMessage::Bytes& query,
                                         DnsTransport::Deadline deadline) {
    Descriptor fd = openSocket(peer.address.ss_family, SOCK_STREAM);
    if (!fd.valid()) {
        return std::nullopt;
    }
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer.address), peer.length) < 0) {
        int error = 0;
        socklen_t length = sizeof error;
        if (errno != EINPROGRESS || !awaitReady(fd.get(), POLLOUT, deadline) ||
            getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0) {
            return std::nullopt;
        }
    }
    DnsMessage::Bytes framed{static_cast<unsigned char>(query.size() >> 8),
                             static_cast<unsigned char>(query.size() & 0xff)};
    framed.insert(framed.end(), query.begin(), query.end());
    unsigned char prefix[2];
    if (!sendAll(fd.get(), framed, deadline) || !receiveExactly(fd.get(), prefix, 2, deadline)) {
        return std::nullopt;
    }
    DnsMessage::Bytes reply((static_cast<std::size_t>(prefix[0]) << 8) | prefix[1]);
    if (!receiveExactly(fd.get(), reply.data(), reply.size(), deadline) ||
        !DnsMessage::isReplyTo(reply, query)) {
        return std::nullopt;
    }
    return reply;
}

} // namespace

namespace DnsTransport {

std::optional<Peer> peerAt(const std::string& text) {
    constexpr std::uint16_t port = 53;
    Peer peer;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&peer.address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&peer.address);
    if (std::optional<in_addr> address = IpAddress::parseIpv4(text)) {
        v4->sin_addr = *address;
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        peer.length = sizeof(sockaddr_in);
        return peer;
    }
    if (std::optional<in6_addr> address = IpAddress::parseIpv6(text)) {
        v6->sin6_addr = *address;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        peer.length = sizeof(sockaddr_in6);
        return peer;
    }
    return std::nullopt;
}

std::optional<DnsMessage::Bytes> exchange(const Peer& peer, const DnsMessage::Bytes& query,
                                          Deadline deadline) {
    if (query.empty()) {
        return std::nullopt;
    }
    std::optional<DnsMessage::Bytes> reply = overUdp(peer, query, deadline);
    if (reply && DnsMessage::isTruncated(*reply)) {
        return overTcp(peer, query, deadline);
    }
    return reply;
}

} // namespace DnsTransport
