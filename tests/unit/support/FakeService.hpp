// Runs tools/fake-dyndns as a child process for in-process tests: its own state directory, the JSON
// line it prints, its control API and request log, and a stop by pid.
#pragma once

#include "support/HttpSession.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class FakeService {
public:
    // Starts the fake over HTTPS in a fresh temporary state directory (removed by the destructor).
    // Extra arguments go to the program, e.g. {"--api-key", "dyndns_other"}.
    explicit FakeService(std::vector<std::string> extraArguments = {});
    ~FakeService();

    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    const std::string& baseUrl() const { return baseUrl_; }
    const std::string& caFile() const { return caFile_; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::filesystem::path& stateDirectory() const { return stateDirectory_; }
    std::string url(const std::string& path) const { return baseUrl_ + path; }

    // POST /_control; throws std::runtime_error when the fake refuses the settings.
    nlohmann::json control(const nlohmann::json& settings);
    // GET /_control: credentials, records, manifest.
    nlohmann::json settings();
    void reset();
    // The request log, oldest first; only requests for `path` when given.
    nlohmann::json requests(const std::optional<std::string>& path = std::nullopt);
    void clearRequests();

    // SIGTERM to its pid, SIGKILL when it has not ended after 5 s. Returns the wait status; idempotent.
    int stop();
    bool running() const;
    std::string stderrText() const;

    // A loopback port nobody listens on: the kernel's pick for a socket that is closed again at once.
    static int unusedPort();

    // The first value of a header in one logged request, matched without regard to case.
    static std::optional<std::string> header(const nlohmann::json& request, const std::string& name);

private:
    nlohmann::json call(bool post, const std::string& path, const std::string& body);
    std::string readLine(int seconds);

    std::filesystem::path stateDirectory_;
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int waitStatus_ = 0;
    std::string baseUrl_;
    std::string caFile_;
    int port_ = 0;
    std::unique_ptr<HttpSession> session_;
};
