#include "selfupdate/AppUpdateWorker.hpp"

#include "ScratchDirectory.hpp"
#include "client/StdoutCapture.hpp"
#include "commands/RunCommand.hpp"
#include "config/ClientConfiguration.hpp"
#include "config/ConfigurationStore.hpp"
#include "support/FakeServiceTest.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Level = ClientLog::Level;
using Lines = StdoutCapture::Lines;

const std::string manifestPath = "/downloads/macos/latest.json";
const std::string startLine = "App-Update-Worker gestartet (aktuelle Version 0.24.0, Prüfintervall 12h).";

// What one worker run did, shared with the worker's thread.
struct Record {
    std::mutex lock;
    std::vector<std::chrono::nanoseconds> sleeps;
    std::vector<std::size_t> requestsAtSleep; // requests the fake had seen when each sleep began
    std::vector<int> exits;
    std::promise<void> exited;
};

class AppUpdateWorkerTest : public FakeServiceTest {
protected:
    void SetUp() override {
        FakeServiceTest::SetUp();
        environment_.set("KORVANE_CONFIG_DIR", (scratch / "config").string());
    }

    // A worker that sleeps not at all, allows `checks` checks, and installs with a script ending in `status`.
    AppUpdateWorker::Dependencies deps(int status, int checks) {
        fs::path script = scratch / "installer";
        std::ofstream(script) << "#!/bin/sh\necho \"$2\" >> '" << (scratch / "installed").string()
                              << "'\nexit " << status << "\n";
        fs::permissions(script, fs::perms::owner_all);

        AppUpdateWorker::Dependencies d;
        std::shared_ptr<Record> r = record;
        d.sleep = [r](std::chrono::nanoseconds length) {
            std::size_t seen = fake_->requests().size();
            std::lock_guard guard(r->lock);
            r->sleeps.push_back(length);
            r->requestsAtSleep.push_back(seen);
        };
        d.exit = [r](int code) {
            {
                std::lock_guard guard(r->lock);
                r->exits.push_back(code);
            }
            r->exited.set_value();
        };
        d.keepRunning = [left = checks]() mutable { return left-- > 0; };
        d.manifestUrl = fake_->url(manifestPath);
        d.installer.installerPath = script.string();
        d.installer.pkgutilPath = (scratch / "pkgutil").string();
        d.installer.teamId = "ABCDE12345";
        std::ofstream(d.installer.pkgutilPath)
            << "#!/bin/sh\necho 'Status: signed by a developer certificate issued by Apple for "
               "distribution'\n"
               "echo 'Certificate Chain:'\necho '1. Developer ID Installer: Korvane (ABCDE12345)'\n";
        fs::permissions(d.installer.pkgutilPath, fs::perms::owner_all);
        d.installer.temporaryDirectory = scratch / "tmp";
        return d;
    }

    Lines runLoop(const AppUpdateWorker::Dependencies& d) {
        StdoutCapture capture;
        AppUpdateWorker::autoUpdateLoop(d);
        capture.restore();
        return capture.lines();
    }

    std::size_t installations() const {
        std::ifstream in(scratch / "installed");
        std::size_t count = 0;
        for (std::string line; std::getline(in, line);) {
            ++count;
        }
        return count;
    }

    ScratchDirectory scratch;
    std::shared_ptr<Record> record = std::make_shared<Record>();
};

TEST_F(AppUpdateWorkerTest, TheRunningVersionIsNotInstalledAgain) {
    fake_->control({{"manifest", {{"version", "0.24.0"}}}});
    Lines lines = runLoop(deps(0, 2));

    EXPECT_EQ(lines, (Lines{{Level::info, startLine}}));
    // Nothing is asked before the start delay is over; one manifest request per check, 12 hours apart.
    EXPECT_EQ(record->sleeps, (std::vector<std::chrono::nanoseconds>{120s, 12h, 12h}));
    EXPECT_EQ(record->requestsAtSleep, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(fake_->requests(manifestPath).size(), 2u);
    EXPECT_EQ(fake_->requests().size(), 2u);
    EXPECT_TRUE(record->exits.empty());
    EXPECT_EQ(installations(), 0u);
}

TEST_F(AppUpdateWorkerTest, ANewerVersionIsInstalledAndEndsTheProcess) {
    Lines lines = runLoop(deps(0, 5));

    ASSERT_EQ(lines.size(), 4u) << testing::PrintToString(lines);
    EXPECT_EQ(lines[0], std::make_pair(Level::info, startLine));
    EXPECT_EQ(lines[1],
              std::make_pair(Level::info, std::string("Neue Version 0.25.0 verfügbar (aktuell 0.24.0).")));
    EXPECT_TRUE(lines[2].second.starts_with("Update 0.25.0 wird installiert (")) << lines[2].second;
    EXPECT_EQ(lines[3],
              std::make_pair(Level::info, std::string("Update 0.25.0 installiert — Daemon startet neu.")));
    EXPECT_EQ(record->exits, std::vector<int>{0});
    EXPECT_EQ(record->sleeps, (std::vector<std::chrono::nanoseconds>{120s}));
    EXPECT_EQ(installations(), 1u);
}

TEST_F(AppUpdateWorkerTest, AFailedInstallationIsTriedAgainAtTheNextCheck) {
    fake_->control({{"manifest", {{"sha256", "00"}}}});
    Lines lines = runLoop(deps(0, 2));

    std::string digest = fake_->settings().at("packageSha256").get<std::string>();
    Lines attempt = {
        {Level::info, "Neue Version 0.25.0 verfügbar (aktuell 0.24.0)."},
        {Level::error, "SHA-256 des heruntergeladenen pkg passt nicht zum Manifest (erwartet 00, erhalten " +
                           digest + ") — Update abgebrochen."}};
    Lines expected = {{Level::info, startLine}};
    expected.insert(expected.end(), attempt.begin(), attempt.end());
    expected.insert(expected.end(), attempt.begin(), attempt.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(record->sleeps, (std::vector<std::chrono::nanoseconds>{120s, 12h, 12h}));
    EXPECT_TRUE(record->exits.empty());
    EXPECT_EQ(installations(), 0u);

    // An installer that fails is no reason to end the process either.
    fake_->reset();
    record = std::make_shared<Record>();
    lines = runLoop(deps(1, 1));
    ASSERT_EQ(lines.size(), 4u) << testing::PrintToString(lines);
    EXPECT_EQ(lines[3],
              std::make_pair(Level::error, std::string("installer(8) beendete sich mit Status 1 — Update "
                                                       "fehlgeschlagen.")));
    EXPECT_TRUE(record->exits.empty());
    EXPECT_EQ(installations(), 1u);
}

TEST_F(AppUpdateWorkerTest, AnUnusableManifestOnlyLeavesTheSourcesWarning) {
    fake_->control({{"latest", {{"status", 404}, {"body", "<html>Not Found</html>"}, {"sticky", true}}}});
    Lines lines = runLoop(deps(0, 1));
    ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
    EXPECT_EQ(lines[1].first, Level::warn);
    EXPECT_TRUE(lines[1].second.starts_with(
        "Update-Manifest konnte nicht geladen werden: " + fake_->url(manifestPath) + " ("))
        << lines[1].second;
    EXPECT_TRUE(fake_->requests("/downloads/macos/RuzEdaRoredo-0.25.0.pkg").empty());
}

TEST_F(AppUpdateWorkerTest, TheManifestAddressCanBeMovedByTheEnvironment) {
    environment_.set("KORVANE_UPDATE_MANIFEST_URL", "https://staging.example/latest.json");
    EXPECT_EQ(AppUpdateWorker::defaultManifestUrl(), "https://staging.example/latest.json");
    EXPECT_EQ(AppUpdateWorker::Dependencies{}.manifestUrl, "https://staging.example/latest.json");
    environment_.set("KORVANE_UPDATE_MANIFEST_URL", "");
    EXPECT_EQ(AppUpdateWorker::defaultManifestUrl(), ClientConfiguration::updateManifestUrl);
    environment_.unset("KORVANE_UPDATE_MANIFEST_URL");
    EXPECT_EQ(AppUpdateWorker::defaultManifestUrl(), ClientConfiguration::updateManifestUrl);
    // The product's delays and installer.
    AppUpdateWorker::Dependencies product;
    EXPECT_EQ(product.startDelay, 120s);
    EXPECT_EQ(product.checkInterval, 12h);
    EXPECT_EQ(product.installer.installerPath, "/usr/sbin/installer");
}

class NoAddress : public PublicIpResolving {
public:
    std::atomic<int> calls{0};
    std::optional<std::string> resolveIpv4() override {
        ++calls;
        return std::nullopt;
    }
    std::optional<std::string> resolveIpv6() override { return std::nullopt; }
};

class NeverCalled : public DynDnsUpdating {
public:
    DynDnsResponse send(const std::optional<std::string>&, const std::optional<std::string>&) override {
        ADD_FAILURE() << "no address was found, so nothing may be sent";
        return {};
    }
};

// The daemon with a valid configuration: the worker installs the newer release and ends the process while
// the update loop is still going.
TEST_F(AppUpdateWorkerTest, TheDaemonStartsTheWorkerWhichEndsItAfterAnInstallation) {
    ClientConfiguration config;
    config.hostname = "home.example.org";
    config.apiKey = "dyndns_k3yNeverLogged";
    ConfigurationStore(scratch / "config" / "config.json").save(config);

    auto resolver = std::make_shared<NoAddress>();
    std::future<void> exited = record->exited.get_future();
    std::atomic<bool> daemonReturned{false};
    std::atomic<bool> returnedBeforeExit{true};
    AppUpdateWorker::Dependencies worker = deps(0, 5);
    worker.exit = [r = record, &daemonReturned, &returnedBeforeExit](int code) {
        returnedBeforeExit = daemonReturned.load();
        {
            std::lock_guard guard(r->lock);
            r->exits.push_back(code);
        }
        r->exited.set_value();
    };

    std::vector<std::string> daemonLines;
    int workerStarts = 0;
    RunCommand::Dependencies daemon;
    daemon.makeCollaborators = [resolver](const ClientConfiguration&, const ClientLog&) {
        return RunCommand::Collaborators{resolver, std::make_shared<NeverCalled>()};
    };
    daemon.startAppUpdateWorker = [&worker, &workerStarts] {
        ++workerStarts;
        AppUpdateWorker::start(worker);
    };
    // The update loop pauses until the worker has ended the process, then stops.
    daemon.sleep = [&exited](std::chrono::nanoseconds) { exited.wait_for(120s); };
    daemon.watchNetwork = [](const auto&) { return nullptr; };
    // A few cycles at most, so a worker that never ends the process fails the test instead of hanging it.
    daemon.keepRunning = [&exited, resolver] {
        return exited.wait_for(0s) != std::future_status::ready && resolver->calls < 3;
    };
    daemon.logLine = [&daemonLines](Level, std::string_view message) { daemonLines.emplace_back(message); };

    StdoutCapture capture;
    int code = RunCommand::execute(daemon);
    daemonReturned = true;
    capture.restore();

    EXPECT_EQ(code, 0);
    EXPECT_EQ(workerStarts, 1);
    ASSERT_EQ(exited.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(record->exits, std::vector<int>{0});
    EXPECT_FALSE(returnedBeforeExit.load());
    EXPECT_GE(resolver->calls.load(), 1);
    EXPECT_EQ(installations(), 1u);
    Lines lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u) << testing::PrintToString(lines);
    EXPECT_EQ(lines[0].second, startLine);
    EXPECT_EQ(lines[3].second, "Update 0.25.0 installiert — Daemon startet neu.");
    ASSERT_FALSE(daemonLines.empty());
    EXPECT_EQ(daemonLines[0], "korvane-client 0.24.0 startet (Daemon-Modus).");
}

} // namespace
