// status.json as its readers decode it: the four required keys, typed optional ones, strict times and states.
#include "status/StatusFile.hpp"

#include "support/BuildConstants.hpp"
#include "support/Rfc3339.hpp"

#include <gtest/gtest.h>

namespace {

const std::string version(ClientVersion::current);
const std::string required =
    R"("daemonVersion":")" + version + R"(","message":"m","state":"ok","updatedAt":"2026-01-31T08:15:00Z")";

std::string with(const std::string& extra) {
    return "{" + required + (extra.empty() ? "" : "," + extra) + "}";
}

std::string replaced(const std::string& key, const std::string& value) {
    std::string text = with("");
    std::size_t start = text.find("\"" + key + "\":") + key.size() + 3;
    return text.replace(start, text.find_first_of(",}", start + 1) - start, value);
}

std::string without(const std::string& key) {
    std::string text = with("");
    std::size_t start = text.find("\"" + key + "\":");
    std::size_t end = text.find_first_of(",}", start);
    return text[end] == ',' ? text.erase(start, end + 1 - start) : text.erase(start - 1, end + 1 - start);
}

TEST(StatusFile, AnyMissingOrMistypedKeyMakesTheWholeDocumentUnreadable) {
    // clang-format off
    const std::string rejected[] = {
        without("daemonVersion"), without("message"), without("state"), without("updatedAt"),
        replaced("message", "null"), replaced("state", "\"OK\""), replaced("state", "\"paused\""),
        replaced("state", "0"), replaced("daemonVersion", "true"), replaced("updatedAt", "\"2026-01-31T08:15:00.2Z\""),
        replaced("updatedAt", "\"2026-02-30T08:15:00Z\""), replaced("updatedAt", "1769847300"),
        with(R"("lastSuccessAt":"gestern")"), with(R"("lastSuccessAt":0)"), with(R"("hostname":5)"),
        with(R"("lastIpv4":["203.0.113.7"])"), with(R"("lastIpv6":{})"), with(R"("reachability":2)"),
        with(R"("routerIpv4":false)"), with("").substr(0, 40)};
    // clang-format on
    for (const std::string& text : rejected) {
        EXPECT_EQ(StatusFile::decode(text), std::nullopt) << text;
    }
}

TEST(StatusFile, OptionalKeysMayBeNullAndTimesCarryAnyZone) {
    // A verdict a later daemon may add is no verdict to this reader, not a damaged file.
    EXPECT_EQ(StatusFile::decode(with(R"("hostname":null,"lastIpv4":null,"lastSuccessAt":null,"extra":[1],)"
                                      R"("reachability":"tripleNat","routerIpv4":null)")),
              (DaemonStatus{DaemonStatus::State::ok, "m", std::nullopt, std::nullopt, std::nullopt,
                            std::nullopt, *Rfc3339::parse("2026-01-31T08:15:00Z"), version}));
    std::optional<DaemonStatus> status = StatusFile::decode(
        R"({"updatedAt":"2026-01-31T09:15:00+01:00","state":"idle","message":"m","daemonVersion":"0.23.1",)"
        R"("lastSuccessAt":"2026-01-30T23:00:00-02:00","lastIpv6":"2001:db8::1",)"
        R"("reachability":"carrierNat","routerIpv4":"100.64.0.2"})");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, DaemonStatus::State::idle);
    EXPECT_EQ(status->updatedAt, *Rfc3339::parse("2026-01-31T08:15:00Z"));
    EXPECT_EQ(status->lastSuccessAt, *Rfc3339::parse("2026-01-31T01:00:00Z"));
    EXPECT_EQ(status->lastIpv6, "2001:db8::1");
    EXPECT_EQ(status->reachability, Reachability::carrierNat);
    EXPECT_EQ(status->routerIpv4, "100.64.0.2");
    EXPECT_EQ(StatusFile::decode(StatusFile::encode(*status)), status);
}

} // namespace
