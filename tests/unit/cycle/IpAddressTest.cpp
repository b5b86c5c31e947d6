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
                      AddressCase{"", false, false, std::nullopt}));

TEST(IpAddressEmbeddedNul, IsNeverValid) {
    std::string text("192.0.2.1\0garbage", 17);
    EXPECT_FALSE(IpAddress::isValidIpv4(text));
    EXPECT_EQ(IpAddress::normalize(text), std::nullopt);
}

} // namespace
