#include "commands/StatusCommand.hpp"

#include "ScratchDirectory.hpp"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void writeFile(const std::filesystem::path& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(path.c_str(), mode);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

StatusCommand::Dependencies dependenciesIn(const ScratchDirectory& dir) {
    StatusCommand::Dependencies deps;
    deps.configFile = dir / "config.json";
    deps.ipStateFile = dir / "ipstate.json";
    deps.launchdPlist = dir / "com.korvane.client.plist";
    deps.launchctl = (dir / "launchctl").string();
    deps.effectiveUserId = 0;
    return deps;
}

// The report as written, with this process's own standard output and error watched as well: the
// command writes only to its output stream, and launchctl's chatter goes to the null device.
struct Report {
    int exitCode = -1;
    std::string text;
    std::string strayOutput;
    std::string strayErrors;
};

Report runStatus(const ScratchDirectory& dir, StatusCommand::Dependencies deps) {
    Report report;
    std::FILE* out = std::tmpfile();
    deps.output = out;
    std::fflush(stdout);
    std::fflush(stderr);
    int savedOut = ::dup(STDOUT_FILENO);
    int savedErr = ::dup(STDERR_FILENO);
    int strayOut = ::open((dir / "stray.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int strayErr = ::open((dir / "stray.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(strayOut, STDOUT_FILENO);
    ::dup2(strayErr, STDERR_FILENO);
    report.exitCode = StatusCommand::execute(deps);
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    for (int fd : {savedOut, savedErr, strayOut, strayErr}) {
        ::close(fd);
    }
    std::fflush(out);
    std::rewind(out);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) {
        report.text.append(buffer, n);
    }
    std::fclose(out);
    report.strayOutput = readFile(dir / "stray.out");
    report.strayErrors = readFile(dir / "stray.err");
    return report;
}

TEST(StatusCommandTest, MasksTheKeyByCharactersNotBytes) {
    struct Case {
        std::string key;
        std::string shown;
    };
    std::vector<Case> cases = {
        {"", "(leer)"},
        {"dyndns_abcd", "(gesetzt)"},                // 11 characters: never shown
        {"dyndns_abcde", "dyndns_abcd…"},            // 12
        {"dyndns_abcdefghijklmnop", "dyndns_abcd…"}, // long
        {"Dyndns_abcdefgh", "(gesetzt)"},            // prefix is case-sensitive
        {" dyndns_abcdefgh", "(gesetzt)"},
        {"password1234", "(gesetzt)"},
        {"   ", "(gesetzt)"},
        // Multi-byte characters count once and are never cut in half.
        {"dyndns_äöüßé", "dyndns_äöüß…"},
        {"dyndns_äöüß", "(gesetzt)"},
        // A letter with a combining accent is one character.
        {"dyndns_e\xCC\x81"
         "bcdx",
         "dyndns_e\xCC\x81"
         "bcd…"},
        {"dyndns_🇩🇪🇩🇪🇩🇪🇩🇪x", "dyndns_🇩🇪🇩🇪🇩🇪🇩🇪…"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusCommand::maskedApiKey(c.key), c.shown) << c.key;
    }
}

TEST(StatusCommandTest, DaemonStateFollowsPlistAndLaunchctl) {
    ScratchDirectory dir;
    StatusCommand::Dependencies deps = dependenciesIn(dir);
    std::string plist = deps.launchdPlist.string();

    EXPECT_EQ(StatusCommand::daemonState(deps), "nicht installiert (kein " + plist + ")");

    writeFile(deps.launchdPlist, "<plist/>");
    EXPECT_EQ(StatusCommand::daemonState(deps), "Zustand unbekannt (No such file or directory)");

    writeFile(deps.launchctl, "#!/bin/sh\nexit 0\n", 0644);
    EXPECT_EQ(StatusCommand::daemonState(deps), "Zustand unbekannt (Permission denied)");

    struct Case {
        std::string script;
        std::string state;
    };
    std::string notLoaded =
        "installiert, aber nicht geladen — 'sudo launchctl bootstrap system " + plist + "'";
    std::vector<Case> cases = {
        {"exit 0", "geladen (Log: /Library/Logs/RuzEdaRoredo/daemon.log)"},
        {"exit 113", notLoaded},
        {"exit 1", notLoaded},
        {"kill -KILL $$", notLoaded},
    };
    for (const Case& c : cases) {
        writeFile(deps.launchctl, "#!/bin/sh\n" + c.script + "\n", 0755);
        EXPECT_EQ(StatusCommand::daemonState(deps), c.state) << c.script;
    }
}

TEST(StatusCommandTest, AsksLaunchctlForTheSystemJobAndHidesItsOutput) {
    ScratchDirectory dir;
    StatusCommand::Dependencies deps = dependenciesIn(dir);
    writeFile(deps.launchdPlist, "<plist/>");
    std::filesystem::path argsFile = dir / "args";
    writeFile(deps.launchctl,
              "#!/bin/sh\nprintf '[%s]' \"$@\" > '" + argsFile.string() +
                  "'\necho 'launchctl says hello'\necho 'launchctl complains' >&2\nexit 0\n",
              0755);

    Report report = runStatus(dir, deps);

    EXPECT_EQ(readFile(argsFile), "[print][system/com.korvane.client]");
    EXPECT_EQ(report.exitCode, 0);
    EXPECT_EQ(report.strayOutput, "");
    EXPECT_EQ(report.strayErrors, "");
    EXPECT_EQ(lines(report.text).back(), "Daemon: geladen (Log: /Library/Logs/RuzEdaRoredo/daemon.log)");
}

TEST(StatusCommandTest, EverythingBeforeTheDaemonLineIsOutBeforeLaunchctlStarts) {
    ScratchDirectory dir;
    StatusCommand::Dependencies deps = dependenciesIn(dir);
    writeFile(deps.launchdPlist, "<plist/>");
    std::filesystem::path out = dir / "out";
    writeFile(deps.launchctl, "#!/bin/sh\ncat '" + out.string() + "' > '" + (dir / "seen").string() + "'\n",
              0755);
    deps.output = std::fopen(out.c_str(), "w");
    StatusCommand::execute(deps);
    std::fclose(deps.output);
    std::string text = readFile(out);
    EXPECT_EQ(readFile(dir / "seen"), text.substr(0, text.find("Daemon: ")));
}

TEST(StatusCommandTest, ReportsConfigurationStates) {
    struct Case {
        const char* name;
        std::optional<std::string> config; // nothing: no file
        uid_t euid;
        std::vector<std::string> configLines;
    };
    std::string validKey = R"("apiKey": "dyndns_secretvalue123")";
    std::vector<Case> cases = {
        {"empty as user",
         "",
         501,
         {"  nicht lesbar: Konfigurationsdatei ist leer oder ungültig: @CONFIG@ — Lesen erfordert ggf. root "
          "('sudo korvane-client status')"}},
        {"valid",
         R"({"hostname": "home.example.net", )" + validKey +
             R"(, "updateIntervalMinutes": 15, "enableIpv4": false, "enableIpv6": true})",
         501,
         {"  Hostname:  home.example.net", "  API-Key:   dyndns_secr…", "  Intervall: 15 min",
          "  IPv4:      aus", "  IPv6:      an"}},
        {"invalid interval",
         R"({"hostname": " h ", )" + validKey + R"(, "updateIntervalMinutes": -3})",
         0,
         {"  Hostname:   h ", "  API-Key:   dyndns_secr…", "  Intervall: -3 min", "  IPv4:      an",
          "  IPv6:      aus", "  ⚠ ungültig: Update-Intervall muss mindestens 1 Minute(n) betragen."}},
    };
    for (const Case& c : cases) {
        ScratchDirectory dir;
        StatusCommand::Dependencies deps = dependenciesIn(dir);
        deps.effectiveUserId = c.euid;
        if (c.config) {
            writeFile(deps.configFile, *c.config);
        }
        Report report = runStatus(dir, deps);

        std::vector<std::string> expected = {"korvane-client 0.24.0",
                                             "Konfiguration: " + deps.configFile.string()};
        for (std::string line : c.configLines) {
            if (size_t at = line.find("@CONFIG@"); at != std::string::npos) {
                line.replace(at, 8, deps.configFile.string());
            }
            expected.push_back(line);
        }
        expected.push_back("Zuletzt gepusht: (noch nichts)");
        expected.push_back("Daemon: nicht installiert (kein " + deps.launchdPlist.string() + ")");
        EXPECT_EQ(lines(report.text), expected) << c.name;
        EXPECT_EQ(report.text.back(), '\n') << c.name;
        EXPECT_EQ(report.exitCode, 0) << c.name;
        EXPECT_EQ(report.text.find("secretvalue"), std::string::npos) << c.name;
        EXPECT_EQ(report.strayErrors, "") << c.name;
    }
}

TEST(StatusCommandTest, UnreadableConfigurationShowsTheReadError) {
    ScratchDirectory dir;
    StatusCommand::Dependencies deps = dependenciesIn(dir);
    std::filesystem::create_directory(deps.configFile);
    deps.effectiveUserId = 501;
    Report report = runStatus(dir, deps);
    EXPECT_EQ(lines(report.text).at(2),
              "  nicht lesbar: " + deps.configFile.string() +
                  ": Is a directory — Lesen erfordert ggf. root ('sudo korvane-client "
                  "status')");
    EXPECT_EQ(report.exitCode, 0);
}

} // namespace
