// Whose record ipstate.json is: only the configured host's addresses count as pushed.
#include "cycle/IpStateCache.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

namespace {

TEST(IpStateCache, OnlyTheRecordOfTheHostCountsAndRecordingNamesIt) {
    // The file's host member (none as in older files, 5 damaged); whether its addresses count as pushed for
    // h.example, whatever the case of the IPv6 one. Recording one family writes the host's name and keeps
    // the other family's address, and nothing of another host's record.
    const std::pair<std::string, bool> cases[] = {{R"("hostname":"h.example",)", true},
                                                  {"", false},
                                                  {R"("hostname":"old.example",)", false},
                                                  {R"("hostname":5,)", false}};
    for (const auto& [member, known] : cases) {
        Scratch dir;
        IpStateCache cache(
            dir.write("ipstate.json", "{" + member + R"("ipv4":"203.0.113.7","ipv6":"2001:DB8::7"})"),
            "h.example");
        EXPECT_EQ(cache.needsUpdate({"203.0.113.7", "2001:db8::7"}), !known) << member;
        cache.record({std::nullopt, "2001:db8::8"});
        EXPECT_EQ(dir.read("ipstate.json"), R"({"hostname":"h.example",)" +
                                                std::string(known ? R"("ipv4":"203.0.113.7",)" : "") +
                                                R"("ipv6":"2001:db8::8"})");
        cache.record({"198.51.100.7", std::nullopt});
        EXPECT_EQ(cache.last().ipv6, "2001:db8::8");
    }
}

} // namespace
