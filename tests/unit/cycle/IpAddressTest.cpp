#include "cycle/IpAddress.hpp"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
    const char* text;
    bool ipv4;
    bool ipv6;
    std::optional<std::string> normalized;
};

class IpAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(IpAddressTest, ValidityAndCanonicalForm) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(IpAddress::isValidIpv4(c.text), c.ipv4) << c.text;
    EXPECT_EQ(IpAddress::isValidIpv6(c.text), c.ipv6) << c.text;
    EXPECT_EQ(IpAddress::normalize(c.text), c.normalized) << c.text;
    // The canonical form is a fixed point and keeps its family.
    if (c.normalized) {
        EXPECT_EQ(IpAddress::normalize(*c.normalized), c.normalized);
        EXPECT_EQ(IpAddress::isValidIpv4(*c.normalized), c.ipv4) << *c.normalized;
        EXPECT_EQ(IpAddress::isValidIpv6(*c.normalized), c.ipv6) << *c.normalized;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IpAddressTest,
    ::testing::Values(AddressCase{"192.0.2.1", true, false, "192.0.2.1"},
                      AddressCase{"2001:0DB8:0000:0000:0000:0000:0000:0001", false, true, "2001:db8::1"},
                      AddressCase{"::ffff:192.0.2.1", false, true, "::ffff:192.0.2.1"},
                      AddressCase{"2001:db8:0:0:1:0:0:1", false, true, "2001:db8::1:0:0:1"},
                      AddressCase{"2001:0:0:1:0:0:0:1", false, true, "2001:0:0:1::1"},
                      AddressCase{" 192.0.2.1", false, false, std::nullopt},
                      AddressCase{"192.0.2.1\n", false, false, std::nullopt},
                      AddressCase{"fe80::1%en0", false, false, std::nullopt},
                      AddressCase{"[2001:db8::1]", false, false, std::nullopt},
                      AddressCase{"192.0.2", false, false, std::nullopt},
                      AddressCase{"192.0.2.256", false, false, std::nullopt},
                      AddressCase{"", false, false, std::nullopt}, AddressCase{"::", false, true, "::"},
                      AddressCase{"::1", false, true, "::1"},
                      AddressCase{"2001:DB8::ABCD", false, true, "2001:db8::abcd"},
                      AddressCase{"2001:db8:0:1:1:1:1:1", false, true, "2001:db8:0:1:1:1:1:1"},
                      AddressCase{"2001:db8:0000:0:1::", false, true, "2001:db8:0:0:1::"},
                      AddressCase{"0.0.0.0", true, false, "0.0.0.0"},
                      AddressCase{"255.255.255.255", true, false, "255.255.255.255"},
                      AddressCase{"1:2:3:4:5:6:7:8:9", false, false, std::nullopt},
                      AddressCase{":::", false, false, std::nullopt},
                      AddressCase{"2001:db8::1::2", false, false, std::nullopt},
                      AddressCase{"2001:db8::g", false, false, std::nullopt},
                      AddressCase{"::ffff:192.0.2", false, false, std::nullopt},
                      AddressCase{"1.2.3.4.5", false, false, std::nullopt},
                      AddressCase{"0x7f.0.0.1", false, false, std::nullopt},
                      AddressCase{"127.1", false, false, std::nullopt},
                      AddressCase{"192.0.2.1:80", false, false, std::nullopt},
                      AddressCase{"localhost", false, false, std::nullopt},
                      AddressCase{"ï¼.0.0.1", false, false, std::nullopt}));

TEST(IpAddressEmbeddedNul, IsNeverValid) {
    std::string text("192.0.2.1\0garbage", 17);
    EXPECT_FALSE(IpAddress::isValidIpv4(text));
    EXPECT_EQ(IpAddress::normalize(text), std::nullopt);
}

} // namespace
