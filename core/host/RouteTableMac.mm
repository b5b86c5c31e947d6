// macOS: the kernel's route towards the internet from the routing socket (RTM_GET, as `route get` asks),
// and the network services in configd's order, each with its router of the family. Every service with a
// router keeps a route scoped to its interface, also while a VPN holds the unscoped default, so a socket
// bound to that interface (IP_BOUND_IF) gets out beside the tunnel.
#include "host/RouteTable.hpp"

#include "support/Descriptor.hpp"

#include <SystemConfiguration/SystemConfiguration.h>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <net/if.h>
#include <net/if_dl.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using Held = std::unique_ptr<const void, decltype(&CFRelease)>;

Held held(CFTypeRef value) {
    return Held(value, &CFRelease);
}

std::string text(CFTypeRef value) {
    char buffer[256] = {};
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID() ||
        !CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer, kCFStringEncodingUTF8)) {
        return {};
    }
    return buffer;
}

// The route in the kernel's answer after its header: the addresses rtm_addrs names, in the order of their
// bits, each padded to 4 bytes (<net/route.h>'s ROUNDUP on Darwin); the gateway's text when it is one.
std::string gatewayOf(const unsigned char* answer, std::size_t length, int addresses) {
    std::size_t at = sizeof(rt_msghdr);
    for (int bit = 1; bit <= RTA_GATEWAY && at < length; bit <<= 1) {
        if ((addresses & bit) == 0) {
            continue;
        }
        sockaddr_storage found{};
        std::memcpy(&found, answer + at, std::min({length - at, sizeof found, std::size_t{answer[at]}}));
        const std::size_t size = answer[at] == 0 ? 4 : (answer[at] + 3U) & ~std::size_t{3};
        at += size;
        if (bit != RTA_GATEWAY) {
            continue;
        }
        char shown[INET6_ADDRSTRLEN] = {};
        if (found.ss_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&found)->sin_addr, shown, sizeof shown);
        } else if (found.ss_family == AF_INET6) {
            in6_addr router = reinterpret_cast<sockaddr_in6*>(&found)->sin6_addr;
            if (IN6_IS_ADDR_LINKLOCAL(&router)) {
                // The kernel keeps a link-local address's scope in its second 16 bits; route(8) clears them.
                router.s6_addr[2] = router.s6_addr[3] = 0;
            }
            inet_ntop(AF_INET6, &router, shown, sizeof shown);
        }
        return shown;
    }
    return {};
}

} // namespace

// The route towards the internet (RTM_GET, as `route -n get` asks; `-ifscope` with a scope): the interface
// the kernel would send through, and its gateway.
Expected<std::optional<RouteTable::Hop>> RouteTable::lookUp(int family, std::optional<unsigned> scope) {
    Descriptor routing(::socket(PF_ROUTE, SOCK_RAW, family));
    if (!routing.valid()) {
        return Failure::of("PF_ROUTE", errno);
    }
    const timeval bound{1, 0};
    setsockopt(routing.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);

    alignas(
        rt_msghdr) unsigned char message[sizeof(rt_msghdr) + sizeof(sockaddr_in6) + sizeof(sockaddr_dl)] = {};
    auto* header = reinterpret_cast<rt_msghdr*>(message);
    std::size_t length = sizeof(rt_msghdr);
    Destination destination = internetDestination(family);
    reinterpret_cast<sockaddr*>(&destination.address)->sa_len =
        static_cast<unsigned char>(destination.length);
    std::memcpy(message + length, &destination.address, destination.length);
    length += destination.length;
    // An empty link address asks the kernel to name the route's interface.
    sockaddr_dl link{};
    link.sdl_len = sizeof link;
    link.sdl_family = AF_LINK;
    std::memcpy(message + length, &link, sizeof link);
    length += sizeof link;
    header->rtm_msglen = static_cast<u_short>(length);
    header->rtm_version = RTM_VERSION;
    header->rtm_type = RTM_GET;
    header->rtm_addrs = RTA_DST | RTA_IFP;
    header->rtm_seq = 1;
    if (scope) {
        header->rtm_flags |= RTF_IFSCOPE;
        header->rtm_index = static_cast<u_short>(*scope);
    }
    if (write(routing.get(), message, length) < 0) {
        if (errno == ESRCH || errno == ENETUNREACH) {
            return std::optional<Hop>();
        }
        return Failure::of("RTM_GET", errno);
    }
    const pid_t self = getpid();
    alignas(rt_msghdr) unsigned char answer[2048];
    // Other routing messages may come first; the kernel's answer to this one follows at once.
    for (int message = 0; message < 64; ++message) {
        ssize_t got = ::read(routing.get(), answer, sizeof answer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < static_cast<ssize_t>(sizeof(rt_msghdr))) {
            return Failure::of("RTM_GET", got < 0 ? errno : EPROTO);
        }
        rt_msghdr reply;
        std::memcpy(&reply, answer, sizeof reply);
        if (reply.rtm_type == RTM_GET && reply.rtm_seq == 1 && reply.rtm_pid == self) {
            if (reply.rtm_errno != 0) {
                return std::optional<Hop>();
            }
            return std::optional<Hop>(
                Hop{reply.rtm_index, gatewayOf(answer, static_cast<std::size_t>(got), reply.rtm_addrs)});
        }
    }
    return Failure{"RTM_GET: no answer", 0};
}

// The interfaces of the services, in the user's order, that have a router of this family.
Expected<std::vector<unsigned>> RouteTable::exits(int family) {
    Held store = held(SCDynamicStoreCreate(nullptr, CFSTR("korvane-client"), nullptr, nullptr));
    if (!store) {
        return Failure{std::string("SCDynamicStore: ") + SCErrorString(SCError()), 0};
    }
    auto dynamicStore = static_cast<SCDynamicStoreRef>(store.get());
    Held setupKey =
        held(SCDynamicStoreKeyCreateNetworkGlobalEntity(nullptr, kSCDynamicStoreDomainSetup, kSCEntNetIPv4));
    Held setup = held(SCDynamicStoreCopyValue(dynamicStore, static_cast<CFStringRef>(setupKey.get())));
    if (!setup || CFGetTypeID(setup.get()) != CFDictionaryGetTypeID()) {
        return Failure{"SCDynamicStore: no service order", 0};
    }
    CFTypeRef order = CFDictionaryGetValue(static_cast<CFDictionaryRef>(setup.get()), kSCPropNetServiceOrder);
    if (order == nullptr || CFGetTypeID(order) != CFArrayGetTypeID()) {
        return Failure{"SCDynamicStore: no service order", 0};
    }
    const bool v6 = family == AF_INET6;
    std::vector<unsigned> interfaces;
    auto services = static_cast<CFArrayRef>(order);
    for (CFIndex i = 0; i < CFArrayGetCount(services); ++i) {
        CFTypeRef service = CFArrayGetValueAtIndex(services, i);
        if (service == nullptr || CFGetTypeID(service) != CFStringGetTypeID()) {
            continue;
        }
        Held key = held(SCDynamicStoreKeyCreateNetworkServiceEntity(nullptr, kSCDynamicStoreDomainState,
                                                                    static_cast<CFStringRef>(service),
                                                                    v6 ? kSCEntNetIPv6 : kSCEntNetIPv4));
        Held state = held(SCDynamicStoreCopyValue(dynamicStore, static_cast<CFStringRef>(key.get())));
        if (!state || CFGetTypeID(state.get()) != CFDictionaryGetTypeID()) {
            continue;
        }
        auto entity = static_cast<CFDictionaryRef>(state.get());
        const std::string router =
            text(CFDictionaryGetValue(entity, v6 ? kSCPropNetIPv6Router : kSCPropNetIPv4Router));
        const std::string name = text(CFDictionaryGetValue(entity, kSCPropInterfaceName));
        if (router.empty() || name.empty()) {
            continue;
        }
        if (unsigned index = if_nametoindex(name.c_str()); index != 0) {
            interfaces.push_back(index);
        }
    }
    return interfaces;
}
