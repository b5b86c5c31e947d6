#include "Dispatch.hpp"

#include "process/OutputStream.hpp"
#include "process/ProcessExit.hpp"

#include "commands/ConfigureCommand.hpp"
#include "commands/DiagnoseCommand.hpp"
#include "commands/OnceCommand.hpp"
#include "commands/RunCommand.hpp"
#include "commands/StatusCommand.hpp"
#include "support/BuildConstants.hpp"
#include "wiring/ClientRoot.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace Dispatch {
std::string usageText() {
    std::string version(ClientVersion::current);
    return "korvane-client " + version +
           " — Korvane DynDNS-Client für macOS\n"
           "\n"
           "Verwendung: korvane-client <befehl>\n"
           "\n"
           "  run          Daemon-Modus (wird von launchd gestartet; endlos)\n"
           "  configure    Konfiguration anlegen/ändern (root; fragt fehlende Werte ab)\n"
           "               [--hostname <fqdn>] [--interval <min>] [--ipv4|--no-ipv4]\n"
           "               [--ipv6|--no-ipv6] [--api-key-stdin]\n"
           "  once         Einen Update-Zyklus ausführen [--force]\n"
           "  status       Konfiguration und Daemon-Zustand anzeigen\n"
           "  diagnose     Zeigen, was Korvane auf diesem Rechner sieht (ändert nichts) [--json]\n"
           "  version      Version ausgeben\n";
}

void printUsage() {
    OutputStream::write(stdout, usageText());
}

void run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        printUsage();
        ProcessExit::exitWith(64);
    }
    const std::string& command = arguments.front();
    std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (command == "run") {
        RunCommand::run(ClientRoot::forDaemon());
    }
    if (command == "configure") {
        ConfigureCommand::run(rest);
    }
    if (command == "once") {
        OnceCommand::run(ClientRoot::forCommand(), rest);
    }
    if (command == "status") {
        StatusCommand::run();
    }
    if (command == "diagnose") {
        DiagnoseCommand::run(rest);
    }
    if (command == "version" || command == "--version" || command == "-v") {
        OutputStream::write(stdout, std::string(ClientVersion::current) + "\n");
        ProcessExit::exitWith(0);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        printUsage();
        ProcessExit::exitWith(0);
    }
    OutputStream::write(stderr, "Unbekannter Befehl: " + command + "\n\n");
    printUsage();
    ProcessExit::exitWith(64);
}

} // namespace Dispatch
