#include "cycle/HttpPublicIpResolver.hpp"

#include "support/FakeServiceTest.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

using Lines = std::vector<std::pair<ClientLog::Level, std::string>>;

const std::string& deadUrl() {
    static const std::string url = "https://127.0.0.1:" + std::to_string(FakeService::unusedPort()) + "/ip4";
    return url;
}

class HttpPublicIpResolverTest : public FakeServiceTest {
protected:
    void SetUp() override { FakeServiceTest::SetUp(); }

    HttpPublicIpResolver resolver(std::vector<std::string> ipv4, std::vector<std::string> ipv6 = {},
                                  std::chrono::milliseconds timeout = 10s) {
        ClientConfiguration config;
        config.ipv4DiscoveryUrls = std::move(ipv4);
        config.ipv6DiscoveryUrls = std::move(ipv6);
        ClientLog log([this](ClientLog::Level level, const std::string& message) {
            lines_.emplace_back(level, message);
        });
        return HttpPublicIpResolver(config, log, timeout);
    }

    static std::string url(const std::string& path) { return fake_->url(path); }

    Lines lines_;
};

TEST_F(HttpPublicIpResolverTest, TakesTheFirstValidAnswerAndAsksNoFurther) {
    fake_->control({{"ip4", "192.0.2.1\n"}});
    auto r = resolver({url("/ip4"), url("/ip4b")});
    EXPECT_EQ(r.resolveIpv4(), "192.0.2.1");
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(fake_->requests("/ip4").size(), 1u);
    EXPECT_TRUE(fake_->requests("/ip4b").empty());
    EXPECT_TRUE(fake_->requests("/ip4").at(0).at("headers").is_array());
}

TEST_F(HttpPublicIpResolverTest, FallsBackPastADeadEndpoint) {
    fake_->control({{"ip4b", "198.51.100.4"}});
    auto r = resolver({deadUrl(), url("/ip4b")});
    EXPECT_EQ(r.resolveIpv4(), "198.51.100.4");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].first, ClientLog::Level::warn);
    EXPECT_TRUE(lines_[0].second.starts_with("IP-Discovery " + deadUrl() + " fehlgeschlagen: "))
        << lines_[0].second;
    EXPECT_GT(lines_[0].second.size(), ("IP-Discovery " + deadUrl() + " fehlgeschlagen: ").size());
}

TEST_F(HttpPublicIpResolverTest, SkipsATextThatIsNoUrl) {
    auto r = resolver({"not a url", url("/ip4")});
    EXPECT_EQ(r.resolveIpv4(), "203.0.113.7");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0],
              std::make_pair(ClientLog::Level::warn, std::string("IP-Discovery-URL ungültig: not a url")));
}

TEST_F(HttpPublicIpResolverTest, LooksAtTheBodyWhateverTheStatus) {
    fake_->control({{"ip4", {{"status", 500}, {"body", " 192.0.2.9\r\n"}}}});
    auto r = resolver({url("/ip4")});
    EXPECT_EQ(r.resolveIpv4(), "192.0.2.9");
    EXPECT_TRUE(lines_.empty());
}

TEST_F(HttpPublicIpResolverTest, ReturnsAnIpv6AnswerAsReceived) {
    fake_->control({{"ip6", "2001:0DB8:0:0:0:0:0:1\n"}});
    auto r = resolver({}, {url("/ip6")});
    EXPECT_EQ(r.resolveIpv6(), "2001:0DB8:0:0:0:0:0:1");
}

struct RejectedCase {
    const char* name;
    nlohmann::json answer; // control value for /ip6
    std::string shown;     // the text in the warning
};

class HttpPublicIpResolverRejects : public HttpPublicIpResolverTest,
                                    public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(HttpPublicIpResolverRejects, WarnsWithTheTrimmedTextAndGoesOn) {
    const RejectedCase& c = GetParam();
    fake_->control({{"ip6", c.answer}, {"ip6b", "2001:db8::b\n"}});
    auto r = resolver({}, {url("/ip6"), url("/ip6b")});
    EXPECT_EQ(r.resolveIpv6(), "2001:db8::b");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].first, ClientLog::Level::warn);
    EXPECT_EQ(lines_[0].second,
              "IP-Discovery " + url("/ip6") + " lieferte keine gültige IPv6-Adresse: " + c.shown);
}

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpPublicIpResolverRejects,
    ::testing::Values(RejectedCase{"ipv4OnTheIpv6List", "203.0.113.7\n", "203.0.113.7"},
                      RejectedCase{"emptyBody", "", ""},
                      RejectedCase{"errorPage", {{"status", 404}, {"body", "  Not Found \n"}}, "Not Found"},
                      RejectedCase{"sixtyFourCharactersWhole", repeated("a", 64), repeated("a", 64)},
                      RejectedCase{"sixtyFiveCut", repeated("a", 65), repeated("a", 64) + "…"},
                      RejectedCase{"htmlPage", "<html>" + repeated("<p>Fehler</p>", 40) + "</html>",
                                   ("<html>" + repeated("<p>Fehler</p>", 40)).substr(0, 64) + "…"},
                      RejectedCase{"umlautsCountAsOne", repeated("ä", 70), repeated("ä", 64) + "…"},
                      RejectedCase{"combiningMarksStayWithTheirLetter", repeated("e\u0301", 64) + "x",
                                   repeated("e\u0301", 64) + "…"},
                      RejectedCase{"emojiWithModifierIsOneCharacter", repeated("👍🏽", 66),
                                   repeated("👍🏽", 64) + "…"},
                      RejectedCase{"echoedLogLineStaysOnItsLine",
                                   "x\n2026-01-01 00:00:00 [INFO] DynDNS aktualisiert: 6.6.6.6.\n",
                                   "x\\n2026-01-01 00:00:00 [INFO] DynDNS aktualisiert: 6.6.6.6."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpPublicIpResolverTest, CountsABodyThatIsNotUtf8AsEmpty) {
    // The package endpoint serves bytes as they are: an address followed by an invalid byte.
    fake_->control({{"packageBase64", "MTkyLjAuMi4x/w=="}}); // "192.0.2.1\xff"
    auto r = resolver({url("/downloads/macos/x.pkg")});
    EXPECT_EQ(r.resolveIpv4(), std::nullopt);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].second,
              "IP-Discovery " + url("/downloads/macos/x.pkg") + " lieferte keine gültige IPv4-Adresse: ");
}

TEST_F(HttpPublicIpResolverTest, AnEndpointThatDripsItsAnswerTimesOutAsAWholeAndTheNextOneAnswers) {
    // A byte every 0.25 s never looks idle, but the whole answer would take 2.5 s.
    fake_->control({{"ip4", {{"body", "192.0.2.1\n"}, {"drip", 0.25}}}});
    auto r = resolver({url("/ip4"), url("/ip4b")}, {}, 1s);
    EXPECT_EQ(r.resolveIpv4(), "203.0.113.7");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].second,
              "IP-Discovery " + url("/ip4") +
                  " fehlgeschlagen: Timeout was reached: no complete answer within 1000 milliseconds");
}

TEST_F(HttpPublicIpResolverTest, AsksAnEndpointThatDropsTheConnectionOnce) {
    fake_->control({{"ip4", "nope"}, {"ip4b", {{"drop", true}}}});
    auto r = resolver({url("/ip4"), url("/ip4b")});
    EXPECT_EQ(r.resolveIpv4(), std::nullopt);
    EXPECT_EQ(fake_->requests("/ip4b").size(), 1u);
}

TEST_F(HttpPublicIpResolverTest, SendsNoCredentialsEvenWhenTheUrlHoldsSome) {
    std::string withUser = "https://user:secret@" + url("/ip4").substr(std::string("https://").size());
    auto r = resolver({withUser, url("/ip4b")});
    EXPECT_EQ(r.resolveIpv4(), "203.0.113.7");
    for (const nlohmann::json& request : fake_->requests()) {
        EXPECT_EQ(FakeService::header(request, "Authorization"), std::nullopt) << request.at("path");
    }
    EXPECT_TRUE(fake_->requests("/ip4").empty());
}

TEST_F(HttpPublicIpResolverTest, AnUntrustedCertificateIsAFailedFetch) {
    environment_.set("SSL_CERT_FILE", "/etc/ssl/certs/ca-certificates.crt");
    auto r = resolver({url("/ip4")});
    EXPECT_EQ(r.resolveIpv4(), std::nullopt);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_TRUE(lines_[0].second.starts_with("IP-Discovery " + url("/ip4") + " fehlgeschlagen: "))
        << lines_[0].second;
    EXPECT_TRUE(fake_->requests("/ip4").empty());
}

TEST_F(HttpPublicIpResolverTest, EveryEndpointFailingGivesNothingWithoutAnExtraLine) {
    fake_->control({{"ip4", "nope"}, {"ip4b", "2001:db8::1"}});
    auto r = resolver({url("/ip4"), deadUrl(), url("/ip4b")});
    EXPECT_EQ(r.resolveIpv4(), std::nullopt);
    EXPECT_EQ(lines_.size(), 3u);
}

TEST_F(HttpPublicIpResolverTest, AnEmptyListAsksNobody) {
    auto r = resolver({}, {});
    EXPECT_EQ(r.resolveIpv4(), std::nullopt);
    EXPECT_EQ(r.resolveIpv6(), std::nullopt);
    EXPECT_TRUE(lines_.empty());
    EXPECT_TRUE(fake_->requests().empty());
}

} // namespace
