// Whether the published IPv4 address reaches this Mac from outside: the verdict drawn from what the home
// router says is its own external address, and how it reads wherever it is shown.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class Reachability { direct, forwardable, carrierNat, dsLite, secondRouter, unknown };

namespace ReachabilityText {

// The status file's form: "direct", "forwardable", "carrierNat", "dsLite", "secondRouter", "unknown".
std::string_view name(Reachability verdict);
std::optional<Reachability> fromName(std::string_view text);

// Carrier NAT, DS-Lite and a second router: no connection from outside reaches this Mac over IPv4, whatever
// the user forwards in the router they own.
bool unreachable(Reachability verdict);

// The one German line for `status`, the menu bar and the log; empty for unknown, of which nothing is said.
std::string line(Reachability verdict);

} // namespace ReachabilityText
