// Linux: a route netlink socket of our own for requests to the kernel (NetlinkLinux.cpp). What the kernel
// sends is read as carefully as any peer's answer: bounded in size, time and number, and only the replies
// to our own requests.
#pragma once

#include "support/Descriptor.hpp"
#include "support/Expected.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct nlmsghdr;

class Netlink {
public:
    using Message = std::function<void(const nlmsghdr&)>;
    using Attribute = std::function<void(unsigned short type, std::size_t size, const void* data)>;

    Expected<void> open();
    // Sends `request` (its length, type, flags and body set; the sequence number is set here) and hands each
    // message of the answer to `message`: a dump's until the kernel says done, else its one reply. The
    // kernel's refusal is the failure, with its errno; so is a dump it cut short or whose tables changed
    // while it was read (EAGAIN), after which the messages handed on are not the whole answer.
    Expected<void> ask(nlmsghdr& request, const Message& message);
    // A dump of `type` for every family.
    Expected<void> dump(std::uint16_t type, const Message& message);

    // The attributes after a message's fixed part of `bodySize` bytes, each checked to lie inside the
    // message; none when the message is shorter than its fixed part.
    static void forEachAttribute(const nlmsghdr& message, std::size_t bodySize, const Attribute& each);

private:
    Expected<bool> receive(const Message& message);
    static Expected<bool> ended(const nlmsghdr& end);

    Descriptor socket_{-1};
    std::uint32_t port_ = 0;
    std::uint32_t sequence_ = 0;
    std::vector<char> buffer_;
};
