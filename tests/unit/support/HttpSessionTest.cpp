#include "support/HttpSession.hpp"

#include "ScratchDirectory.hpp"
#include "support/FakeServiceTest.hpp"
#include "support/ScopedEnvironment.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

using namespace std::chrono_literals;

constexpr const char* systemBundle = "/etc/ssl/certs/ca-certificates.crt";

// A plain TCP port on loopback that never answers; tells whether anybody connected to it.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on loopback");
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }

    int port() const { return port_; }
    bool wasConnected() const {
        pollfd fd{fd_, POLLIN, 0};
        return ::poll(&fd, 1, 100) > 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// The subject hash OpenSSL looks a root up by in a hashed directory.
std::string subjectHash(const std::string& pemFile) {
    std::string command = "openssl x509 -hash -noout -in '" + pemFile + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char buffer[64] = {};
    if (!pipe || std::fgets(buffer, sizeof buffer, pipe.get()) == nullptr) {
        throw std::runtime_error("openssl x509 -hash failed");
    }
    std::string hash = buffer;
    return hash.substr(0, hash.find('\n'));
}

class HttpSessionTest : public FakeServiceTest {
protected:
    static HttpSession::Options trusting(std::chrono::milliseconds timeout = 10s,
                                         std::size_t limit = HttpSession::defaultBodyLimit,
                                         std::optional<std::chrono::milliseconds> total = std::nullopt) {
        return {.requestTimeout = timeout,
                .totalTimeout = total,
                .bodyLimit = limit,
                .trust = HttpTrust::bundle(fake_->caFile())};
    }
};

TEST_F(HttpSessionTest, ReturnsStatusAndBodyOfAnyAnswer) {
    fake_->control({{"ip4", {{"status", 500}, {"body", "oops\n"}}}});
    HttpSession session(trusting());
    HttpResult result = session.get(fake_->url("/ip4"));
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.response->status, 500);
    EXPECT_EQ(result.response->body, "oops\n");
    EXPECT_TRUE(result.error.empty());
}

TEST_F(HttpSessionTest, SendsTheGivenHeadersAndNoCookieLaterOn) {
    fake_->control({{"ip4", {{"body", "x"}, {"headers", {{"Set-Cookie", "session=abc; Path=/"}}}}}});
    HttpSession session(trusting());
    ASSERT_TRUE(session.get(fake_->url("/ip4"), {"X-Probe: one", "User-Agent: probe/1"}).ok());
    ASSERT_TRUE(session.get(fake_->url("/ip4")).ok());

    nlohmann::json log = fake_->requests("/ip4");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(FakeService::header(log[0], "X-Probe"), "one");
    EXPECT_EQ(FakeService::header(log[0], "User-Agent"), "probe/1");
    EXPECT_EQ(FakeService::header(log[1], "X-Probe"), std::nullopt);
    EXPECT_EQ(FakeService::header(log[1], "Cookie"), std::nullopt);
}

TEST_F(HttpSessionTest, SendsEachRequestOnceOnAConnectionOfItsOwn) {
    HttpSession session(trusting());
    HttpResult first = session.get(fake_->url("/ip4"));
    ASSERT_TRUE(first.ok()) << first.error;
    // A kept connection that the server drops would make libcurl send the request again.
    fake_->control({{"ip6", {{"drop", true}}}});
    EXPECT_FALSE(session.get(fake_->url("/ip6")).ok());
    EXPECT_EQ(fake_->requests("/ip6").size(), 1u);

    // Another session of the process opens its own connection but resumes the TLS session.
    HttpSession other(trusting());
    HttpResult fresh = other.get(fake_->url("/ip4"));
    ASSERT_TRUE(fresh.ok()) << fresh.error;
    EXPECT_EQ(fresh.response->connectionsOpened, 1);
    EXPECT_EQ(fake_->requests("/ip4").at(1).at("tlsResumed"), true);
}

TEST_F(HttpSessionTest, PostsItsBody) {
    HttpSession session(trusting());
    HttpResult result = session.post(fake_->url("/_control"), {"Content-Type: application/json"},
                                     R"({"hostname": "posted.example"})");
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.response->status, 200);
    EXPECT_EQ(fake_->settings().at("hostname"), "posted.example");
    // The next GET on the same handle is a GET again.
    HttpResult next = session.get(fake_->url("/ip4"));
    ASSERT_TRUE(next.ok()) << next.error;
    EXPECT_EQ(fake_->requests("/ip4").at(0).at("method"), "GET");
}

TEST_F(HttpSessionTest, RefusesPlainHttpWithoutConnecting) {
    SilentListener listener;
    HttpSession session(trusting(1s));
    HttpResult result = session.get("http://127.0.0.1:" + std::to_string(listener.port()) + "/ip4");
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("http"), std::string::npos) << result.error;
    EXPECT_FALSE(listener.wasConnected());
}

TEST_F(HttpSessionTest, ConnectTimeoutEndsAPeerThatNeverSpeaksTls) {
    SilentListener listener;
    HttpSession session(trusting(1s));
    HttpResult result = session.get("https://127.0.0.1:" + std::to_string(listener.port()) + "/ip4");
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.error.empty());
    EXPECT_TRUE(listener.wasConnected());
}

TEST_F(HttpSessionTest, FollowsRedirectsWithinHttpsOnly) {
    fake_->control(
        {{"ip4", {{"status", 302}, {"body", ""}, {"headers", {{"Location", fake_->url("/ip6")}}}}}});
    HttpSession session(trusting());
    HttpResult followed = session.get(fake_->url("/ip4"));
    ASSERT_TRUE(followed.ok()) << followed.error;
    EXPECT_EQ(followed.response->status, 200);
    EXPECT_EQ(followed.response->body, "2001:db8::7\n");

    SilentListener plain;
    std::string insecure = "http://127.0.0.1:" + std::to_string(plain.port()) + "/ip6";
    fake_->control({{"ip4", {{"status", 302}, {"body", ""}, {"headers", {{"Location", insecure}}}}}});
    HttpResult refused = session.get(fake_->url("/ip4"));
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(refused.error.empty());
    EXPECT_FALSE(plain.wasConnected());
}

TEST_F(HttpSessionTest, StopsAfterFiveRedirects) {
    fake_->control({{"ip4",
                     {{"status", 302},
                      {"body", ""},
                      {"sticky", true},
                      {"headers", {{"Location", fake_->url("/ip4")}}}}}});
    HttpSession session(trusting());
    HttpResult result = session.get(fake_->url("/ip4"));
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("redirect"), std::string::npos) << result.error;
    EXPECT_EQ(fake_->requests("/ip4").size(), 1u + HttpSession::maxRedirects);
}

TEST_F(HttpSessionTest, KeepsAuthorizationOnTheFirstHostOnly) {
    std::string port = std::to_string(fake_->port());
    fake_->control({{"ip4", {{"status", 302}, {"body", ""}, {"headers", {{"Location", fake_->url("/ip6")}}}}},
                    {"ip6",
                     {{"status", 302},
                      {"body", ""},
                      {"headers", {{"Location", "https://localhost:" + port + "/ip4b"}}}}}});
    HttpSession session(trusting());
    HttpResult result = session.get(fake_->url("/ip4"), {}, {.basicAuth = HttpSession::Credential{"u", "p"}});
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.response->body, "203.0.113.7\n");

    nlohmann::json log = fake_->requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(FakeService::header(log[0], "Authorization"), "Basic dTpw");
    EXPECT_EQ(FakeService::header(log[1], "Authorization"), "Basic dTpw"); // same host
    EXPECT_EQ(log[2].at("path"), "/ip4b");
    EXPECT_EQ(FakeService::header(log[2], "Authorization"), std::nullopt); // another host
}

TEST_F(HttpSessionTest, CapsTheBody) {
    HttpSession small(trusting(10s, 1000));
    fake_->control({{"ip4", {{"body", "y"}, {"oversize", 1000}}}});
    HttpResult atLimit = small.get(fake_->url("/ip4"));
    ASSERT_TRUE(atLimit.ok()) << atLimit.error;
    EXPECT_EQ(atLimit.response->body, std::string(1000, 'y'));

    fake_->control({{"ip4", {{"body", "y"}, {"oversize", 1001}}}});
    HttpResult over = small.get(fake_->url("/ip4"));
    EXPECT_FALSE(over.ok());
    EXPECT_EQ(over.error, "Response body exceeds the limit of 1000 bytes");

    HttpSession standard(trusting());
    fake_->control({{"ip4", {{"body", "z"}, {"oversize", HttpSession::defaultBodyLimit + 1}}}});
    EXPECT_FALSE(standard.get(fake_->url("/ip4")).ok());
    // The session stays usable after an aborted transfer.
    HttpResult after = standard.get(fake_->url("/ip4"));
    ASSERT_TRUE(after.ok()) << after.error;
    EXPECT_EQ(after.response->body, "203.0.113.7\n");
}

TEST_F(HttpSessionTest, EndsATransferThatStallsForTheRequestTimeout) {
    HttpSession session(trusting(1s, HttpSession::defaultBodyLimit, 20s));
    fake_->control({{"ip4", {{"stall", 30}}}});
    HttpResult beforeHeaders = session.get(fake_->url("/ip4"));
    EXPECT_FALSE(beforeHeaders.ok());
    EXPECT_EQ(beforeHeaders.error, "Timeout was reached: no data received for 1000 milliseconds");

    fake_->control({{"ip4", {{"stallBody", 30}}}});
    HttpResult afterHeaders = session.get(fake_->url("/ip4"));
    EXPECT_FALSE(afterHeaders.ok());
    EXPECT_NE(afterHeaders.error.find("Timeout"), std::string::npos) << afterHeaders.error;
}

TEST_F(HttpSessionTest, HonoursAnOverallLimitOnTopOfTheIdleBound) {
    HttpSession session(trusting(20s, HttpSession::defaultBodyLimit, 1s));
    fake_->control({{"ip4", {{"stall", 30}}}});
    HttpResult result = session.get(fake_->url("/ip4"));
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.error, "Timeout was reached: no complete answer within 1000 milliseconds");
}

TEST_F(HttpSessionTest, RunsNoRequestWhenLibcurlRefusesASafetyOption) {
    SilentListener listener;
    // Longer than libcurl accepts for any text option: its trust setting is refused.
    HttpSession session({.requestTimeout = 1s, .trust = HttpTrust::bundle(std::string(8000001, 'x'))});
    HttpResult result = session.get("https://127.0.0.1:" + std::to_string(listener.port()) + "/ip4");
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.error.starts_with("libcurl refused CURLOPT_CAINFO: ")) << result.error;
    EXPECT_FALSE(listener.wasConnected());
}

TEST_F(HttpSessionTest, TrustsTheCertificateFileFromTheEnvironmentFirst) {
    ScopedEnvironment environment;
    environment.set("SSL_CERT_FILE", fake_->caFile());
    environment.set("SSL_CERT_DIR", "/nonexistent");
    HttpSession session(HttpSession::Options{.requestTimeout = 10s});
    EXPECT_EQ(session.options().trust, HttpTrust::bundle(fake_->caFile()));
    HttpResult result = session.get(fake_->url("/ip4"));
    EXPECT_TRUE(result.ok()) << result.error;
}

TEST_F(HttpSessionTest, TrustsAHashedDirectoryFromTheEnvironment) {
    ScratchDirectory scratch;
    std::filesystem::copy_file(fake_->caFile(), scratch / (subjectHash(fake_->caFile()) + ".0"));
    ScopedEnvironment environment;
    environment.unset("SSL_CERT_FILE");
    environment.set("SSL_CERT_DIR", scratch.path().string());
    HttpSession session(HttpSession::Options{.requestTimeout = 10s});
    HttpResult result = session.get(fake_->url("/ip4"));
    EXPECT_TRUE(result.ok()) << result.error;
}

TEST_F(HttpSessionTest, FailsVerificationAgainstAnotherCa) {
    if (!std::filesystem::exists(systemBundle)) {
        GTEST_SKIP() << "no " << systemBundle;
    }
    ScopedEnvironment environment;
    environment.set("SSL_CERT_FILE", systemBundle);
    HttpSession wrongFile(HttpSession::Options{.requestTimeout = 10s});
    HttpResult result = wrongFile.get(fake_->url("/ip4"));
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("certificate"), std::string::npos) << result.error;

    environment.unset("SSL_CERT_FILE");
    environment.unset("SSL_CERT_DIR");
    HttpSession systemDefault(HttpSession::Options{.requestTimeout = 10s});
    EXPECT_FALSE(systemDefault.get(fake_->url("/ip4")).ok());
    EXPECT_TRUE(fake_->requests("/ip4").empty());
}

TEST(HttpSessionUrl, AcceptsAbsoluteUrlsOnly) {
    EXPECT_TRUE(HttpSession::isValidUrl("https://api.ipify.org"));
    EXPECT_TRUE(HttpSession::isValidUrl("https://[2001:db8::1]:8443/ip?x=1"));
    EXPECT_TRUE(HttpSession::isValidUrl("ftp://example.net/")); // parses; refused when fetched
    EXPECT_FALSE(HttpSession::isValidUrl("api.ipify.org"));
    EXPECT_FALSE(HttpSession::isValidUrl("not a url"));
    EXPECT_FALSE(HttpSession::isValidUrl("https://"));
    EXPECT_FALSE(HttpSession::isValidUrl(""));
    EXPECT_FALSE(HttpSession::isValidUrl(std::string("https://a.example\0.evil.example", 31)));
}

TEST_F(HttpSessionTest, RefusesAUrlOrHeaderThatCStringsWouldAlter) {
    HttpSession session(trusting());
    EXPECT_FALSE(session.get(fake_->url("/ip6") + std::string("\0", 1) + "x").ok());
    EXPECT_FALSE(session.get(fake_->url("/ip4"), {"X-A: 1\r\nX-Injected: 2"}).ok());
    EXPECT_FALSE(session.get(fake_->url("/ip4"), {std::string("X-A: 1\0", 7)}).ok());
    EXPECT_TRUE(fake_->requests().empty());
    EXPECT_TRUE(session.get(fake_->url("/ip4"), {"X-A: 1"}).ok());
}

} // namespace
