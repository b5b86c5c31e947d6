// The menu line under the status line that says what the host's name servers serve.
#pragma once

#include "StatusDisplay.hpp"
#include "status/DnsCheckFile.hpp"

#include <optional>
#include <string>

namespace DnsCheckDisplay {

// Hidden without a readable dnscheck.json of the host shown (`hostname`); the time is the check's, in
// local time.
StatusDisplay::Line lineFor(const std::optional<DnsCheck>& check, const std::optional<std::string>& hostname);

} // namespace DnsCheckDisplay
