// The menu line under the status line that says what the host's name servers serve.
#pragma once

#include "StatusDisplay.hpp"
#include "status/DnsCheckFile.hpp"

#include <optional>
#include <string>

namespace DnsCheckDisplay {

// The served addresses joined by " / ", or "keine Adresse".
QString servedText(const DnsCheck& check);

// Hidden without a readable dnscheck.json of the host shown; the time is the check's, in local time.
StatusDisplay::Line lineFor(const std::optional<DnsCheck>& check);

} // namespace DnsCheckDisplay
