#include "commands/ConfigureCommand.hpp"

#include "ScratchDirectory.hpp"
#include "config/ConfigurationStore.hpp"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string usageLine = "Verwendung: korvane-client configure [--hostname <fqdn>] [--interval <min>] "
                              "[--ipv4|--no-ipv4] [--ipv6|--no-ipv6] [--api-key-stdin]\n";

std::string readStream(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;) {
        text.append(buffer, n);
    }
    return text;
}

struct Result {
    int exitCode = -1;
    std::string output;
    std::string errors;
    std::string unreadInput; // what the command left on its input
};

// Runs the command in-process on a scratch directory, with `input` as its (non-terminal) standard input.
class Configure {
public:
    Configure() {
        deps.configDir = dir.path();
        deps.configFile = dir / "config.json";
        deps.ipStateFile = dir / "ipstate.json";
        deps.launchdPlist = dir / "com.korvane.client.plist";
        deps.effectiveUserId = 0;
    }

    Result run(const std::vector<std::string>& arguments, const std::string& input = "") {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        ::close(fds[1]);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ConfigureCommand::Dependencies d = deps;
        d.input = fds[0];
        d.output = out;
        d.errors = err;
        Result result;
        result.exitCode = ConfigureCommand::execute(arguments, d);
        result.output = readStream(out);
        result.errors = readStream(err);
        char c;
        while (::read(fds[0], &c, 1) == 1) {
            result.unreadInput.push_back(c);
        }
        ::close(fds[0]);
        std::fclose(out);
        std::fclose(err);
        return result;
    }

    void store(const ClientConfiguration& config) { ConfigurationStore(deps.configFile).save(config); }
    std::optional<ClientConfiguration> stored() { return ConfigurationStore(deps.configFile).load(); }

    ScratchDirectory dir;
    ConfigureCommand::Dependencies deps;
};

ClientConfiguration validConfiguration() {
    ClientConfiguration config;
    config.hostname = "stored.example.net";
    config.apiKey = "dyndns_storedkey0000";
    return config;
}

TEST(ConfigureCommandTest, UsageErrorsStopBeforeReadingAnything) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    std::vector<Case> cases = {
        {{"--hostname"}, "--hostname braucht einen Wert."},
        {{"--interval"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", ""}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "abc"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "1.5"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", " 5"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "5 "}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "5min"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "+"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "-"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "+-5"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "--5"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "0x10"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "\xEF\xBC\x95"}, "--interval braucht eine Minutenzahl."}, // fullwidth 5
        {{"--interval", "9223372036854775808"}, "--interval braucht eine Minutenzahl."},
        {{"--interval", "-9223372036854775809"}, "--interval braucht eine Minutenzahl."},
        {{"--verbose"}, "Unbekannte Option: --verbose"},
        {{"--interval=5"}, "Unbekannte Option: --interval=5"},
        {{"--IPV4"}, "Unbekannte Option: --IPV4"},
        {{""}, "Unbekannte Option: "},
        {{"--ipv4", "--hostname", "h", "extra"}, "Unbekannte Option: extra"},
    };
    for (const Case& c : cases) {
        Configure configure;
        Result result = configure.run(c.arguments, "host.example.net\ndyndns_typedkey0000\n");
        EXPECT_EQ(result.exitCode, 64) << c.message;
        EXPECT_EQ(result.errors, c.message + "\n" + usageLine);
        EXPECT_EQ(result.output, "") << c.message;
        EXPECT_EQ(result.unreadInput, "host.example.net\ndyndns_typedkey0000\n") << c.message;
        EXPECT_FALSE(std::filesystem::exists(configure.deps.configFile)) << c.message;
    }
}

TEST(ConfigureCommandTest, IntervalAcceptsSignedDecimalsInTheSixtyFourBitRange) {
    struct Case {
        std::string text;
        std::int64_t minutes;
    };
    std::vector<Case> cases = {
        {"15", 15}, {"+15", 15}, {"0015", 15}, {"1", 1}, {"9223372036854775807", INT64_MAX},
    };
    for (const Case& c : cases) {
        Configure configure;
        configure.store(validConfiguration());
        Result result = configure.run({"--interval", c.text}, "");
        EXPECT_EQ(result.exitCode, 0) << c.text << result.errors;
        ASSERT_TRUE(configure.stored()) << c.text;
        EXPECT_EQ(configure.stored()->updateIntervalMinutes, c.minutes) << c.text;
    }
    // Zero and negative values pass parsing and fail validation.
    for (std::string text : {"0", "-5", "-0", "-9223372036854775808"}) {
        Configure configure;
        configure.store(validConfiguration());
        Result result = configure.run({"--interval", text}, "");
        EXPECT_EQ(result.exitCode, 1) << text;
        EXPECT_EQ(result.errors,
                  "Konfiguration ungültig: Update-Intervall muss mindestens 1 Minute(n) betragen.\n")
            << text;
        EXPECT_EQ(configure.stored()->updateIntervalMinutes, 5) << text;
    }
}

TEST(ConfigureCommandTest, OptionsOverrideStoredValuesAndLaterOptionsWin) {
    Configure configure;
    ClientConfiguration old = validConfiguration();
    old.ipv4DiscoveryUrls = {"https://v4.example"};
    configure.store(old);

    Result result = configure.run({"--ipv4", "--no-ipv4", "--ipv6", "--interval", "7", "--interval", "9",
                                   "--hostname", "a.example.net", "--hostname", "--ipv6"},
                                  "");
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    ClientConfiguration saved = *configure.stored();
    EXPECT_EQ(saved.hostname, "--ipv6");
    EXPECT_FALSE(saved.enableIpv4);
    EXPECT_TRUE(saved.enableIpv6);
    EXPECT_EQ(saved.updateIntervalMinutes, 9);
    EXPECT_EQ(saved.apiKey, old.apiKey); // end of input keeps the key
    EXPECT_EQ(saved.ipv4DiscoveryUrls, old.ipv4DiscoveryUrls);
}

TEST(ConfigureCommandTest, ReadsHostnameThenKeyFromConsecutiveLines) {
    Configure configure;
    Result result = configure.run({}, "  new.example.net \r\n\tdyndns_typedkey0000  \r\nleft over\n");
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(configure.stored()->hostname, "new.example.net");
    EXPECT_EQ(configure.stored()->apiKey, "dyndns_typedkey0000");
    // Only the host-name prompt is shown on a non-terminal input, and nothing past the two lines is read.
    EXPECT_EQ(result.output.rfind("Hostname (z.B. ", 0), 0u);
    EXPECT_EQ(result.output.find("API-Key"), std::string::npos);
    EXPECT_EQ(result.unreadInput, "left over\n");
}

TEST(ConfigureCommandTest, KeyInputKeepsOrReplacesTheStoredKey) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string input;
        int exitCode;
        std::string key;
        std::string errors;
    };
    std::string storedKey = validConfiguration().apiKey;
    std::vector<Case> cases = {
        {"end of input keeps", {}, "", 0, storedKey, ""},
        {"blank line keeps", {}, "   \n", 0, storedKey, ""},
        {"typed key replaces", {}, "dyndns_newkey000000\n", 0, "dyndns_newkey000000", ""},
        {"last line without line feed", {}, "dyndns_newkey000000", 0, "dyndns_newkey000000", ""},
        {"stdin key replaces", {"--api-key-stdin"}, " dyndns_piped000000 \n", 0, "dyndns_piped000000", ""},
        {"empty stdin clears",
         {"--api-key-stdin"},
         "",
         1,
         storedKey,
         "Konfiguration ungültig: API-Key fehlt.\n"},
        {"blank stdin clears",
         {"--api-key-stdin"},
         "\n",
         1,
         storedKey,
         "Konfiguration ungültig: API-Key fehlt.\n"},
        {"wrong prefix",
         {},
         "secret-password\n",
         1,
         storedKey,
         "Konfiguration ungültig: API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server "
         "abgelehnt.\n"},
        {"key not UTF-8",
         {},
         "dyndns_\xff\xfe"
         "0000\n",
         1,
         storedKey,
         "Konfiguration ungültig: API-Key ist kein gültiger UTF-8-Text.\n"},
        {"host name not UTF-8",
         {"--hostname", "h\xc3.example.net"},
         "dyndns_newkey000000\n",
         1,
         storedKey,
         "Konfiguration ungültig: Hostname ist kein gültiger UTF-8-Text.\n"},
    };
    for (const Case& c : cases) {
        Configure configure;
        configure.store(validConfiguration());
        Result result = configure.run(c.arguments, c.input);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(result.errors, c.errors) << c.name;
        EXPECT_EQ(configure.stored()->apiKey, c.key) << c.name;
        // The stored host name is not asked for again, and no key is ever printed.
        EXPECT_EQ(result.output.find("Hostname (z.B."), std::string::npos) << c.name;
        EXPECT_EQ(result.output.find("dyndns_"), std::string::npos) << c.name;
    }
}

TEST(ConfigureCommandTest, SummaryAndRestartHintFollowThePlist) {
    for (bool installed : {false, true}) {
        Configure configure;
        if (installed) {
            std::ofstream(configure.deps.launchdPlist) << "<plist/>";
        }
        std::ofstream(configure.deps.ipStateFile) << R"({"ipv4":"192.0.2.1"})";
        Result result = configure.run({"--hostname", " h.example.net", "--ipv6", "--interval", "30"},
                                      "dyndns_abcdefghijkl\n");
        ASSERT_EQ(result.exitCode, 0) << result.errors;
        std::string expected = "Konfiguration gespeichert: " + configure.deps.configFile.string() +
                               "\n"
                               "  Hostname:   h.example.net\n"
                               "  Intervall: 30 min\n"
                               "  IPv4:      an\n"
                               "  IPv6:      an\n";
        if (installed) {
            expected += "Daemon neu starten, damit die Änderungen greifen:\n"
                        "  sudo launchctl kickstart -k system/com.korvane.client\n";
        }
        EXPECT_EQ(result.output, expected);
        EXPECT_EQ(result.errors, "");
        EXPECT_FALSE(std::filesystem::exists(configure.deps.ipStateFile));
    }
}

// The root hint only where root would help; the refusal of the directory itself is a process test.
TEST(ConfigureCommandTest, SaveFailureNamesTheStepWithoutRootHintWhereRootCannotHelp) {
    for (uid_t euid : {uid_t(0), uid_t(501)}) {
        Configure configure;
        // A directory where the temporary file should go makes the write fail whoever runs the command.
        std::filesystem::create_directory(configure.dir / "config.json.tmp");
        std::filesystem::create_directory(configure.dir / "config.json.tmp" / "blocker");
        configure.deps.effectiveUserId = euid;
        configure.deps.configDir = configure.dir.path() / "";
        Result result = configure.run({"--hostname", "h.example.net"}, "dyndns_abcdefghijkl\n");
        std::string expected =
            "Speichern fehlgeschlagen: Konfigurationsdatei konnte nicht geschrieben werden: " +
            (configure.dir / "config.json.tmp").string();
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.errors, expected + "\n");
        EXPECT_EQ(result.output.find("gespeichert"), std::string::npos);
    }
}

} // namespace
