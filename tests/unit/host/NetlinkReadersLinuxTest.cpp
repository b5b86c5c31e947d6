// The rtnetlink readers against the kernel's own answers: links, addresses and routes made with ip(8) in a
// network namespace of the test's own, read back as the network watch and the VPN rule read them, and the
// watch's notifications of a change; a signal while the kernel is silent.
#include "host/HostAddresses.hpp"
#include "host/Netlink.hpp"
#include "host/RouteTable.hpp"
#include "network/InterfaceSnapshot.hpp"
#include "network/NetworkChangeSource.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <net/if.h>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A 15-byte name (the longest a link may have), secondary, deprecated, tentative, temporary and
// stable-private addresses, a tunnel without carrier, and routes the readers must pass over. The first link
// after lo has 300 long alternative names: its message passes 32 KiB, far beyond a page.
const char* const world = R"(set -e
ip link set lo up; ip link add physical-uplink type veth peer name eth1; ip tuntap add dev tun0 mode tun
printf 'link property add dev eth1 altname %0120d\n' $(seq 300) | ip -batch -
ip link set physical-uplink addrgenmode none; ip link set eth1 addrgenmode random
cd /proc/sys/net/ipv6/conf/physical-uplink; echo 2 >use_tempaddr; echo 7200 >temp_prefered_lft
echo 0 >max_desync_factor; cd ../.. # the temporary address's lifetime exactly as set
echo 60000 >neigh/physical-uplink/retrans_time_ms; echo 60000 >neigh/eth1/retrans_time_ms # tentative a minute
for link in physical-uplink eth1 tun0; do ip link set $link up; done
ip addr add 198.18.0.2/24 dev physical-uplink; ip addr add 198.18.0.3/24 dev physical-uplink
ip addr add 2001:db8:1::a/64 dev physical-uplink nodad mngtmpaddr
ip addr add 2001:db8:1::b/64 dev physical-uplink nodad preferred_lft 0 valid_lft 600
ip addr add 2001:db8:1::c/64 dev physical-uplink preferred_lft 3600 valid_lft 7200
ip addr add 198.19.0.2/24 dev eth1; ip addr add 10.8.0.2 peer 10.8.0.1 dev tun0
ip route add default via 198.18.0.1 dev physical-uplink metric 100; ip route add default dev tun0 metric 50
ip route add default via 198.19.0.1 dev eth1 metric 200; ip route add 198.51.100.7 via 198.19.0.1 dev eth1
ip route add 198.51.100.8 dev physical-uplink; ip route add 203.0.113.0/24 via 198.18.0.1 dev physical-uplink
ip route add default via 198.18.0.1 dev physical-uplink table 51820
ip -6 route add 2001:db8:ffff::7 via 2001:db8:1::1 dev physical-uplink
for i in $(seq 50); do ip -6 addr show dev eth1 | grep -q fe80 && break; sleep 0.1; done # with the carrier
)";

// The calling thread in a network namespace of its own while this lives.
struct PrivateNetwork {
    int original = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    bool entered = original >= 0 && ::unshare(CLONE_NEWNET) == 0;
    ~PrivateNetwork() {
        if (entered && ::setns(original, CLONE_NEWNET) != 0) {
            std::abort(); // every later test would run in the wrong network
        }
        ::close(original);
    }
};

std::string shown(unsigned index) {
    char name[IF_NAMESIZE] = {};
    return ::if_indextoname(index, name) != nullptr ? name : "#" + std::to_string(index);
}

std::string shown(const HostInterface& i) {
    return i.name + (i.running ? " running" : "") + (i.pointToPoint ? " point-to-point" : "") +
           (i.linkLayerAddress ? " link-layer" : "") + (i.tunnelType ? " tunnel" : "") +
           (i.loopback ? " loopback" : "");
}

// The addresses the kernel makes up itself by their flags alone; lifetimes in whole minutes, rounded up.
std::string shown(const HostAddress& a) {
    std::string text = a.interfaceName + " " + (a.temporary || a.secured ? "*" : a.address) + "/" +
                       std::to_string(a.prefixLength) + (a.temporary ? " temporary" : "") +
                       (a.deprecated ? " deprecated" : "") + (a.secured ? " secured" : "") +
                       (a.tentative ? " tentative" : "") + (a.dhcp ? " dhcp" : "");
    if (a.preferredLifetime) {
        text += " preferred " + std::to_string((a.preferredLifetime->count() + 59) / 60) + "min";
    }
    return a.interfaceName == shown(a.interfaceIndex) ? text : text + " on another index";
}

template <typename T> std::vector<std::string> shown(const std::vector<T>& items, bool sort = true) {
    std::vector<std::string> lines;
    for (const T& item : items) {
        lines.push_back(shown(item));
    }
    std::sort(lines.begin(), sort ? lines.end() : lines.begin());
    return lines;
}

TEST(NetlinkReaders, LinksAddressesAndRoutesAsTheKernelReportsThem) {
    PrivateNetwork network;
    if (!network.entered) {
        GTEST_SKIP() << "no network namespace of our own here (needs root)";
    }
    ASSERT_EQ(std::system(world), 0);
    Expected<HostAddresses> host = readHostAddresses();
    ASSERT_TRUE(host);
    EXPECT_EQ(shown(host->interfaces),
              (std::vector<std::string>{"eth1 running link-layer", "lo running loopback",
                                        "physical-uplink running link-layer", "tun0 point-to-point tunnel"}));
    EXPECT_EQ(
        shown(host->addresses),
        (std::vector<std::string>{
            "eth1 */64 secured tentative", "eth1 198.19.0.2/24", "lo 127.0.0.1/8", "lo ::1/128",
            "physical-uplink */64 temporary tentative preferred 120min", "physical-uplink 198.18.0.2/24",
            "physical-uplink 198.18.0.3/24", "physical-uplink 2001:db8:1::a/64",
            "physical-uplink 2001:db8:1::b/64 deprecated preferred 0min",
            "physical-uplink 2001:db8:1::c/64 tentative preferred 60min", "tun0 10.8.0.2/32"}));
    Expected<std::vector<HostInterface>> one = readHostInterfaces(::if_nametoindex("tun0"));
    ASSERT_TRUE(one);
    EXPECT_EQ(shown(*one), std::vector<std::string>{"tun0 point-to-point tunnel"});
    EXPECT_FALSE(readHostInterfaces(::if_nametoindex("tun0") + 100));

    // The kernel's choice towards the internet (none for IPv6: no default, then one that refuses), then the
    // main table's unicast defaults by metric and its host routes through a gateway.
    const std::tuple<const char*, int, std::string, std::vector<std::string>> families[] = {
        {"", AF_INET, "tun0", {"tun0", "physical-uplink", "eth1", "eth1"}},
        {"", AF_INET6, "none", {"physical-uplink"}},
        {"ip -6 route add unreachable default", AF_INET6, "none", {"physical-uplink"}}};
    for (const auto& [command, family, chosen, exits] : families) {
        ASSERT_EQ(*command ? std::system(command) : 0, 0);
        Expected<std::optional<unsigned>> internet = RouteTable::internetInterface(family);
        Expected<std::vector<unsigned>> found = RouteTable::exits(family);
        ASSERT_TRUE(internet && found) << family << command;
        EXPECT_EQ(*internet ? shown(**internet) : "none", chosen) << family;
        EXPECT_EQ(shown(*found, false), exits) << family << command;
    }

    // What the watch compares: links up, their stable addresses beyond the link, the source towards the
    // internet.
    EXPECT_EQ(takeInterfaceSnapshot(),
              (InterfaceSnapshot{"eth1", "eth1 198.19.0.2", "physical-uplink", "physical-uplink 198.18.0.2",
                                 "physical-uplink 198.18.0.3", "physical-uplink 2001:db8:1::a",
                                 "physical-uplink 2001:db8:1::b", "physical-uplink 2001:db8:1::c",
                                 "way out 10.8.0.2"}));
    Expected<std::unique_ptr<NetworkChangeSource>> watch = openPlatformNetworkChangeSource();
    ASSERT_TRUE(watch) << watch.failure().text;
    const auto later = std::chrono::system_clock::now() + std::chrono::hours(1);
    for (const auto& [command, changed] :
         {std::pair{"", false}, {"ip addr add 198.18.0.4/24 dev physical-uplink", true}, {"", false}}) {
        ASSERT_EQ(*command ? std::system(command) : 0, 0);
        EXPECT_EQ((*watch)->waitForChange(later, std::chrono::milliseconds(0)), changed) << command;
    }
}

// The kernel answers no NOOP: a signal while the answer is awaited is neither the answer nor a failure, the
// socket's bound ends the wait.
TEST(Netlink, ASignalDuringTheWaitIsNoFailureButTheBoundIs) {
    struct sigaction poked {};
    struct sigaction previous {};
    poked.sa_handler = [](int) {};
    ::sigaction(SIGUSR1, &poked, &previous);
    Netlink netlink;
    ASSERT_TRUE(netlink.open());
    nlmsghdr noop{NLMSG_LENGTH(0), NLMSG_NOOP, NLM_F_REQUEST, 0, 0};
    std::thread poke([waiting = ::pthread_self()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::pthread_kill(waiting, SIGUSR1);
    });
    Expected<void> asked = netlink.ask(noop, [](const nlmsghdr&) {});
    poke.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(asked ? 0 : asked.failure().error, EAGAIN);
}

} // namespace
