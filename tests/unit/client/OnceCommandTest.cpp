#include "commands/OnceCommand.hpp"

#include "ScratchDirectory.hpp"
#include "config/ClientConfiguration.hpp"
#include "support/FakeService.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace std::chrono_literals;

// A stalling peer must end the cycle after the injected timeout, not after the product's 10 to 60 s.
class OnceCommandStallTest : public ::testing::Test {
protected:
    void SetUp() override {
        environment_.set("SSL_CERT_FILE", fake_.caFile());
        environment_.set("KORVANE_SERVER_BASE_URL", fake_.baseUrl());
        environment_.set("KORVANE_CONFIG_DIR", scratch_.path().string());
        ClientConfiguration config;
        config.hostname = "home.example.net";
        config.apiKey = "dyndns_testkey123456";
        config.ipv4DiscoveryUrls = {fake_.url("/ip4"), fake_.url("/ip4b")};
        std::ofstream(scratch_ / "config.json") << config.toJson();
    }

    struct Outcome {
        int code;
        std::string out;
        std::string err;
    };

    Outcome once(const std::vector<std::string>& arguments, const OnceCommand::Dependencies& deps) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int code = OnceCommand::execute(arguments, deps);
        std::string out = ::testing::internal::GetCapturedStdout();
        std::string err = ::testing::internal::GetCapturedStderr();
        return {code, out, err};
    }

    FakeService fake_;
    ScratchDirectory scratch_;
    ScopedEnvironment environment_;
};

TEST_F(OnceCommandStallTest, AStalledUpdateIsATransientFailure) {
    fake_.control({{"update", {{"stall", 30}}}});
    Outcome outcome = once({}, {.updateSessionTimeout = 1s});
    EXPECT_EQ(outcome.code, 1);
    EXPECT_NE(outcome.out.find("[WARN] Update-Request fehlgeschlagen (Netzwerkfehler?): Timeout was reached"),
              std::string::npos)
        << outcome.out;
    EXPECT_TRUE(outcome.out.ends_with(
        "\nUpdate fehlgeschlagen: Timeout was reached: no data received for 1000 milliseconds\n"))
        << outcome.out;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(fake_.requests("/nic/update").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(scratch_ / "ipstate.json"));
}

TEST_F(OnceCommandStallTest, StalledDiscoveryEndpointsLeaveNoAddress) {
    fake_.control({{"ip4", {{"stall", 30}}}, {"ip4b", {{"stall", 30}}}});
    Outcome outcome = once({"--force"}, {.discoveryTimeout = 1s});
    EXPECT_EQ(outcome.code, 1);
    std::size_t timeouts = 0;
    for (std::size_t at = outcome.out.find("fehlgeschlagen: Timeout was reached"); at != std::string::npos;
         at = outcome.out.find("fehlgeschlagen: Timeout was reached", at + 1)) {
        ++timeouts;
    }
    EXPECT_EQ(timeouts, 2u) << outcome.out;
    EXPECT_TRUE(outcome.out.ends_with("\nKeine öffentliche IP-Adresse ermittelbar.\n")) << outcome.out;
    EXPECT_TRUE(fake_.requests("/nic/update").empty());
}

} // namespace
