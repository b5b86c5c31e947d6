#include "support/FakeService.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

constexpr const char* python = "/usr/bin/python3";
constexpr const char* fakeProgram = KORVANE_SOURCE_DIR "/tools/fake-dyndns/fake-dyndns";
// The request log grows with every request a long test makes.
constexpr std::size_t controlBodyLimit = 64 * 1024 * 1024;

std::filesystem::path makeStateDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-fake-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern + ": " + std::strerror(errno));
    }
    return pattern;
}

} // namespace

FakeService::FakeService(std::vector<std::string> extraArguments) : stateDirectory_(makeStateDirectory()) {
    int pipeFds[2];
    // pipe2 is Linux's; macOS has only pipe.
    if (::pipe(pipeFds) != 0 || ::fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC) != 0 ||
        ::fcntl(pipeFds[1], F_SETFD, FD_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    std::string stderrPath = (stateDirectory_ / "fake.stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> arguments = {python, fakeProgram, "--state", stateDirectory_.string()};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int spawned = ::posix_spawn(&pid_, python, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    stdoutFd_ = pipeFds[0];
    if (spawned != 0) {
        pid_ = -1;
        ::close(stdoutFd_);
        throw std::runtime_error(std::string("cannot start the fake: ") + std::strerror(spawned));
    }
    try {
        nlohmann::json info = nlohmann::json::parse(readLine(30));
        baseUrl_ = info.at("baseUrl").get<std::string>();
        caFile_ = info.at("caFile").get<std::string>();
        port_ = info.at("port").get<int>();
    } catch (...) {
        stop();
        throw;
    }
    session_ = std::make_unique<HttpSession>(HttpSession::Options{.requestTimeout = std::chrono::seconds(10),
                                                                  .bodyLimit = controlBodyLimit,
                                                                  .trust = HttpTrust::bundle(caFile_)});
}

FakeService::~FakeService() {
    stop();
    if (::testing::Test::HasFailure()) {
        std::cerr << "fake-dyndns state kept in " << stateDirectory_ << "\n";
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(stateDirectory_, ignored);
}

std::string FakeService::readLine(int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string line;
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        pollfd fd{stdoutFd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            throw std::runtime_error("fake-dyndns printed nothing in time: " + stderrText());
        }
        char buffer[4096];
        ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0) {
            throw std::runtime_error("fake-dyndns ended before it was ready: " + stderrText());
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

nlohmann::json FakeService::call(bool post, const std::string& path, const std::string& body) {
    HttpResult result =
        post ? session_->post(url(path), {"Content-Type: application/json"}, body) : session_->get(url(path));
    if (!result.ok()) {
        throw std::runtime_error("fake-dyndns " + path + ": " + result.error);
    }
    if (result.response->status != 200) {
        throw std::runtime_error("fake-dyndns " + path + ": " + std::to_string(result.response->status) +
                                 " " + result.response->body);
    }
    return nlohmann::json::parse(result.response->body);
}

nlohmann::json FakeService::control(const nlohmann::json& settings) {
    return call(true, "/_control", settings.dump());
}

nlohmann::json FakeService::settings() {
    return call(false, "/_control", "");
}

void FakeService::reset() {
    control({{"reset", true}}); // clears the request log too
}

nlohmann::json FakeService::requests(const std::optional<std::string>& path) {
    nlohmann::json log = call(false, "/_requests", "");
    if (!path) {
        return log;
    }
    nlohmann::json selected = nlohmann::json::array();
    for (const nlohmann::json& request : log) {
        if (request.at("path") == *path) {
            selected.push_back(request);
        }
    }
    return selected;
}

void FakeService::clearRequests() {
    call(true, "/_requests/clear", "");
}

std::optional<std::string> FakeService::header(const nlohmann::json& request, const std::string& name) {
    for (const nlohmann::json& pair : request.at("headers")) {
        std::string key = pair.at(0).get<std::string>();
        if (key.size() == name.size() && ::strncasecmp(key.c_str(), name.c_str(), key.size()) == 0) {
            return pair.at(1).get<std::string>();
        }
    }
    return std::nullopt;
}

bool FakeService::running() const {
    if (pid_ <= 0) {
        return false;
    }
    siginfo_t info{};
    // WNOWAIT leaves an ended child to be reaped by stop().
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

int FakeService::stop() {
    session_.reset();
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &waitStatus_, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &waitStatus_, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
    }
    return waitStatus_;
}

std::string FakeService::stderrText() const {
    std::ifstream file(stateDirectory_ / "fake.stderr");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int FakeService::unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(std::string("no free loopback port: ") + std::strerror(errno));
    }
    ::close(fd);
    return ntohs(address.sin_port);
}
