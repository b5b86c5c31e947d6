#include "commands/ConfigureCommand.hpp"

#include "commands/ConfigurationSummary.hpp"
#include "commands/SecretInput.hpp"
#include "config/ClientConfiguration.hpp"
#include "config/ClientPaths.hpp"
#include "config/ConfigDirectory.hpp"
#include "config/ConfigurationStore.hpp"
#include "process/OutputStream.hpp"
#include "process/ProcessExit.hpp"
#include "support/DecimalInteger.hpp"
#include "support/Unicode.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace ConfigureCommand {
namespace {

constexpr std::string_view usageLine =
    "Verwendung: korvane-client configure [--hostname <fqdn>] [--interval <min>] [--ipv4|--no-ipv4] "
    "[--ipv6|--no-ipv6] [--api-key-stdin]";
constexpr std::string_view hostnamePrompt = "Hostname (z.B. home.example.net): ";
constexpr std::string_view apiKeyPrompt = "API-Key (dyndns_…, Eingabe unsichtbar): ";

struct Options {
    std::optional<std::string> hostname;
    std::optional<std::int64_t> intervalMinutes;
    std::optional<bool> enableIpv4;
    std::optional<bool> enableIpv6;
    bool apiKeyFromStdin = false;
};

struct ParsedArguments {
    Options options;
    std::optional<std::string> usageError;
};

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    Options& options = parsed.options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool hasValue = i + 1 < arguments.size();
        if (argument == "--hostname") {
            if (!hasValue) {
                parsed.usageError = "--hostname braucht einen Wert.";
                return parsed;
            }
            options.hostname = arguments[++i];
        } else if (argument == "--interval") {
            std::optional<std::int64_t> minutes =
                hasValue ? DecimalInteger::parseInt64(arguments[i + 1]) : std::nullopt;
            if (!minutes) {
                parsed.usageError = "--interval braucht eine Minutenzahl.";
                return parsed;
            }
            options.intervalMinutes = minutes;
            ++i;
        } else if (argument == "--ipv4" || argument == "--no-ipv4") {
            options.enableIpv4 = argument == "--ipv4";
        } else if (argument == "--ipv6" || argument == "--no-ipv6") {
            options.enableIpv6 = argument == "--ipv6";
        } else if (argument == "--api-key-stdin") {
            options.apiKeyFromStdin = true;
        } else {
            parsed.usageError = "Unbekannte Option: " + argument;
            return parsed;
        }
    }
    return parsed;
}

// The stored configuration, or the defaults when there is none or it cannot be read: this command is the
// way to replace a damaged file.
ClientConfiguration loadOrDefaults(const std::filesystem::path& configFile) {
    Expected<std::optional<ClientConfiguration>> stored = ConfigurationStore(configFile).load();
    return stored && *stored ? **stored : ClientConfiguration();
}

std::string trimmed(const std::optional<std::string>& line) {
    return line ? std::string(Unicode::trim(*line)) : std::string();
}

std::string settleHostname(const Options& options, const ClientConfiguration& stored, int input,
                           std::FILE* output) {
    if (options.hostname) {
        return *options.hostname;
    }
    if (!stored.hostname.empty()) {
        return stored.hostname;
    }
    OutputStream::write(output, hostnamePrompt);
    return trimmed(SecretInput::readLine(input));
}

std::string settleApiKey(const Options& options, const ClientConfiguration& stored, int input,
                         std::FILE* output) {
    if (options.apiKeyFromStdin) {
        return trimmed(SecretInput::readLine(input));
    }
    std::string typed = trimmed(SecretInput::read(apiKeyPrompt, input, output));
    // End of input or just Enter keeps the stored key.
    return typed.empty() ? stored.apiKey : typed;
}

std::string pathText(const std::filesystem::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// The root hint only where root would get past the refusal.
std::string saveFailureHint(int error, const std::filesystem::path& configDir) {
    bool privilegeProblem = error == EACCES || error == EPERM || error == EROFS;
    if (::geteuid() == 0 || !privilegeProblem) {
        return "";
    }
    return " (Schreiben nach " + pathText(configDir) + " erfordert root — 'sudo korvane-client configure')";
}

// config.json is JSON text, so a host name or key that is not UTF-8 cannot be stored; said in words
// rather than with the encoder's exception text.
std::optional<std::string> textProblem(const ClientConfiguration& config) {
    if (!Unicode::isValidUtf8(config.hostname)) {
        return "Hostname ist kein gültiger UTF-8-Text.";
    }
    if (!Unicode::isValidUtf8(config.apiKey)) {
        return "API-Key ist kein gültiger UTF-8-Text.";
    }
    return std::nullopt;
}

int saveFailed(const Failure& failure, const std::filesystem::path& configDir) {
    OutputStream::write(stderr, "Speichern fehlgeschlagen: " + failure.text +
                                    saveFailureHint(failure.error, configDir) + "\n");
    return 1;
}

void printSummary(const ClientConfiguration& config, const std::filesystem::path& configFile,
                  const std::filesystem::path& launchdPlist, std::FILE* output) {
    std::string text = "Konfiguration gespeichert: " + configFile.string() + "\n";
    text += ConfigurationSummary::settingsLines(config, std::nullopt);
    if (ConfigurationSummary::fileExists(launchdPlist)) {
        text += "Daemon neu starten, damit die Änderungen greifen:\n";
        text += "  sudo launchctl kickstart -k system/" + std::string(ClientPaths::launchdLabel) + "\n";
    }
    OutputStream::write(output, text);
}

} // namespace

int execute(const std::vector<std::string>& arguments, const std::filesystem::path& configDir,
            const std::filesystem::path& launchdPlist, int input, std::FILE* output) {
    ParsedArguments parsed = parseArguments(arguments);
    if (parsed.usageError) {
        OutputStream::write(stderr, *parsed.usageError + "\n" + std::string(usageLine) + "\n");
        return 64;
    }
    const Options& options = parsed.options;
    // Earlier runs killed mid-write left copies of the key behind.
    ConfigDirectory::sweepLeftovers(configDir);

    const std::filesystem::path configFile = configDir / ClientPaths::configFileName;
    ClientConfiguration stored = loadOrDefaults(configFile);
    ClientConfiguration config = stored;
    // The host name is settled first: on a piped input its line comes before the key's.
    config.hostname = settleHostname(options, stored, input, output);
    config.apiKey = settleApiKey(options, stored, input, output);
    config.updateIntervalMinutes = options.intervalMinutes.value_or(stored.updateIntervalMinutes);
    config.enableIpv4 = options.enableIpv4.value_or(stored.enableIpv4);
    config.enableIpv6 = options.enableIpv6.value_or(stored.enableIpv6);

    if (Expected<void> valid = config.validate(); !valid) {
        OutputStream::write(stderr, "Konfiguration ungültig: " + valid.failure().text + "\n");
        return 1;
    }
    if (std::optional<std::string> problem = textProblem(config)) {
        OutputStream::write(stderr, "Konfiguration ungültig: " + *problem + "\n");
        return 1;
    }
    if (Expected<void> saved = ConfigurationStore(configFile).save(config); !saved) {
        return saveFailed(saved.failure(), configDir);
    }
    // Forgetting the pushed addresses makes the next cycle push with the new settings; the DNS outcome
    // belongs to the settings it was found with.
    std::error_code ignored;
    std::filesystem::remove(configDir / ClientPaths::ipStateFileName, ignored);
    std::filesystem::remove(configDir / ClientPaths::dnsCheckFileName, ignored);

    printSummary(config, configFile, launchdPlist, output);
    return 0;
}

void run(const std::vector<std::string>& arguments) {
    ProcessExit::exitWith(
        execute(arguments, ClientPaths::configDir(), ClientPaths::launchdPlist, STDIN_FILENO, stdout));
}

} // namespace ConfigureCommand
