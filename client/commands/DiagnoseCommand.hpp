// `korvane-client diagnose [--json]`: what Korvane sees on this machine, for an administrator and for
// support: the build, the configuration with the key masked, the trust, each family's way to the internet,
// the IPv6 addresses and which one would be published, the discovery's IPv6 source, the resolvers and the
// zone's name servers, the home router's answer with the daemon's last verdict, the launchd job and the log.
// It sends no update and writes no file.
#pragma once

#include <string>
#include <vector>

namespace DiagnoseCommand {

// Ends with 0, or 64 for arguments other than one --json.
[[noreturn]] void run(const std::vector<std::string>& arguments);

} // namespace DiagnoseCommand
