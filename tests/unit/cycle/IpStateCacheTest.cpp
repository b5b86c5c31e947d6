// Whose record ipstate.json is: only the configured host's addresses count as pushed.
#include "cycle/IpStateCache.hpp"

#include "../Scratch.hpp"

#include <gtest/gtest.h>

namespace {

TEST(IpStateCache, OnlyTheRecordOfTheHostCountsAndRecordingNamesIt) {
    // The file's host member (none as in older files, 5 damaged), the host asked for (none: a reader without
    // the configuration); whether the file's 203.0.113.7 counts as pushed. Recording writes the host's name.
    const std::tuple<std::string, std::optional<std::string>, bool> cases[] = {
        {R"("hostname":"h.example",)", "h.example", true},    {"", "h.example", false},
        {R"("hostname":"old.example",)", "h.example", false}, {R"("hostname":5,)", "h.example", false},
        {R"("hostname":"old.example",)", std::nullopt, true}, {"", std::nullopt, true}};
    for (const auto& [member, host, known] : cases) {
        Scratch dir;
        IpStateCache cache(dir.write("ipstate.json", "{" + member + R"("ipv4":"203.0.113.7"})"), host);
        EXPECT_EQ(cache.needsUpdate({"203.0.113.7", std::nullopt}), !known) << member;
        if (host) {
            cache.record({std::nullopt, "2001:db8::7"});
            EXPECT_EQ(dir.read("ipstate.json"), R"({"hostname":"h.example",)" +
                                                    std::string(known ? R"("ipv4":"203.0.113.7",)" : "") +
                                                    R"("ipv6":"2001:db8::7"})");
        }
    }
}

} // namespace
