// What the machine's temporary and deprecated IPv6 addresses change: the address that is published for the
// one an echo saw. The address lists are written as the platforms show them: macOS's `ifconfig -L` and
// Linux's `ip -6 addr`, each word read as that platform's reader sees it.
#include "host/StableAddress.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Shown { ifconfig, ip };
using Kind = StableAddressChoice::Kind;

// "{interface} inet6 {address} prefixlen {n} {flag}... [pltime {s}]" (ifconfig) or "{interface} inet6
// {address}/{n} {flag}... [preferred_lft {s}sec]" (ip).
HostAddress shown(Shown platform, const std::string& line) {
    std::istringstream words(line);
    HostAddress address;
    std::string family, word;
    words >> address.interfaceName >> family >> address.address;
    address.family = family == "inet6" ? AF_INET6 : AF_INET;
    address.interfaceIndex = address.interfaceName == "en0" || address.interfaceName == "eth0" ? 4 : 9;
    if (std::size_t slash = address.address.find('/'); slash != std::string::npos) {
        address.prefixLength = std::stoul(address.address.substr(slash + 1));
        address.address.resize(slash);
    }
    while (words >> word) {
        if (word == "prefixlen") {
            words >> address.prefixLength;
        } else if (word == "pltime" || word == "preferred_lft") {
            long seconds = 0;
            words >> seconds;
            address.preferredLifetime = std::chrono::seconds(seconds);
            address.deprecated = seconds == 0;
        }
        address.temporary |= word == "temporary";
        address.deprecated |= word == "deprecated";
        address.secured |= word == (platform == Shown::ifconfig ? "secured" : "stable-privacy");
        address.dhcp |= platform == Shown::ifconfig && word == "dynamic"; // for ip: a lifetime that ends
        address.tentative |= word == "tentative" || word == "duplicated" || word == "dadfailed";
    }
    return address;
}

std::vector<HostAddress> shown(Shown platform, const std::vector<std::string>& lines) {
    std::vector<HostAddress> addresses;
    for (const std::string& line : lines) {
        addresses.push_back(shown(platform, line));
    }
    return addresses;
}

const std::string macTemporary = "2001:db8:1:0:a1b2:c3d4:e5f6:789";
const std::string linuxTemporary = "2001:db8:1:0:b27:e185:5e9:ee72";

TEST(StableAddress, AnEchoedTemporaryOrDeprecatedAddressOfOursGivesWayToTheBestStableOneOfItsSlash64) {
    struct Case {
        Shown platform;
        std::string echoed;
        std::vector<std::string> own;
        StableAddressChoice expected;
    };
    const std::string macLinkLocal = "en0 inet6 fe80::1c2a:3b4c:5d6e:7f80 prefixlen 64 secured";
    const std::string macAutoconf =
        "en0 inet6 " + macTemporary + " prefixlen 64 autoconf temporary pltime 80000";
    const std::string linuxOwn =
        "eth0 inet6 " + linuxTemporary + "/64 temporary dynamic preferred_lft 86039sec";
    // clang-format off
    const Case cases[] = {
        // macOS: the secured one before a DHCPv6 one, whatever the order and lifetimes.
        {Shown::ifconfig, macTemporary, {macLinkLocal, macAutoconf, "en0 inet6 2001:db8:1::1234 prefixlen 64 dynamic",
                                    "en0 inet6 2001:db8:1:0:1c2a:3b4c:5d6e:7f80 prefixlen 64 autoconf secured"},
         {Kind::replaced, "2001:db8:1:0:1c2a:3b4c:5d6e:7f80"}},
        // ... unless it is deprecated (renumbering): a preferred one first; DHCPv6 before any other.
        {Shown::ifconfig, macTemporary, {macAutoconf, "en0 inet6 2001:db8:1::1 prefixlen 64",
                                    "en0 inet6 2001:db8:1::1234 prefixlen 64 dynamic pltime 3000",
                                    "en0 inet6 2001:db8:1::5ec prefixlen 64 autoconf secured deprecated pltime 0"},
         {Kind::replaced, "2001:db8:1::1234"}},
        // Only deprecated stable ones: the best of those; the echoed spelling does not matter.
        {Shown::ifconfig, "2001:DB8:1:0:A1B2:C3D4:E5F6:0789", {macAutoconf,
                                    "en0 inet6 2001:db8:1::5ec prefixlen 64 autoconf secured deprecated pltime 0"},
         {Kind::replaced, "2001:db8:1::5ec"}},
        // Linux: the longest preferred lifetime among equals; for ever is longest; a tie to the lowest.
        {Shown::ip, linuxTemporary, {linuxOwn, "eth0 inet6 2001:db8:1::c/64 preferred_lft 3600sec",
                                        "eth0 inet6 2001:db8:1::d/64 dynamic preferred_lft 7200sec"},
         {Kind::replaced, "2001:db8:1::d"}},
        {Shown::ip, linuxTemporary, {linuxOwn, "eth0 inet6 2001:db8:1::c/64 preferred_lft 3600sec",
                                        "eth0 inet6 2001:db8:1::b/64 mngtmpaddr", "eth0 inet6 2001:db8:1::a/64"},
         {Kind::replaced, "2001:db8:1::a"}},
        {Shown::ip, linuxTemporary, {"eth0 inet6 2001:db8:1::ff/64", linuxOwn,
                                        "eth0 inet6 2001:db8:1:0:5c0f:1e2d:3c4b:5a69/64 stable-privacy"},
         {Kind::replaced, "2001:db8:1:0:5c0f:1e2d:3c4b:5a69"}},
        // A stable address that is deprecated itself, with a preferred one beside it.
        {Shown::ip, "2001:db8:1::a", {"eth0 inet6 2001:db8:1::a/64 preferred_lft 0sec",
                                         "eth0 inet6 2001:db8:1::b/64 mngtmpaddr"},
         {Kind::replaced, "2001:db8:1::b"}},
        // ... and without one: it is the best there is.
        {Shown::ip, "2001:db8:1::a", {"eth0 inet6 2001:db8:1::a/64 preferred_lft 0sec", linuxOwn},
         {Kind::asEchoed, "2001:db8:1::a"}},
        // Nothing stable in the /64: another prefix, another family, a temporary or a tentative one counts not.
        {Shown::ip, linuxTemporary, {linuxOwn, "eth0 inet6 2001:db8:2::a/64 mngtmpaddr",
                                        "eth0 inet6 2001:db8:1::a/64 tentative", "eth0 inet 192.0.2.2/24",
                                        "eth0 inet6 2001:db8:1:0:ffff:1:2:3/64 temporary deprecated"},
         {Kind::withheld, ""}},
        {Shown::ifconfig, macTemporary, {macLinkLocal, macAutoconf, "en0 inet6 2001:db8:1::5ec prefixlen 64 duplicated"},
         {Kind::withheld, ""}},
        // Not ours (a router translates), ours and stable, or no address of ours at all: as it came.
        {Shown::ip, "2001:db8:ffff::7", {linuxOwn, "eth0 inet6 2001:db8:1::a/64 mngtmpaddr"},
         {Kind::asEchoed, "2001:db8:ffff::7"}},
        {Shown::ifconfig, "2001:DB8:1::1", {macAutoconf, "en0 inet6 2001:db8:1::1 prefixlen 64 autoconf secured",
                                       "en0 inet6 2001:db8:1::5ec prefixlen 64 secured"},
         {Kind::asEchoed, "2001:DB8:1::1"}},
        {Shown::ifconfig, macTemporary, {}, {Kind::asEchoed, macTemporary}},
        // A NUL inside the echoed text does not cut it down to the address before it.
        {Shown::ip, linuxTemporary + std::string("\0x", 2), {linuxOwn, "eth0 inet6 2001:db8:1::a/64"},
         {Kind::asEchoed, linuxTemporary + std::string("\0x", 2)}}};
    // clang-format on
    for (const Case& each : cases) {
        EXPECT_EQ(chooseStableAddress(each.echoed, shown(each.platform, each.own)), each.expected)
            << each.echoed << " among " << each.own.size();
    }
}

} // namespace
