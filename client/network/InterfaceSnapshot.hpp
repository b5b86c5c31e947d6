// What of the machine's network the public address can depend on: the interfaces that are up and their
// addresses beyond the link. Two equal snapshots mean nothing worth a cycle has changed.
#pragma once

#include <optional>
#include <set>
#include <string>

// "{interface}" for each interface that is up and running (loopback aside), "{interface} {address}" for
// each of its addresses that is neither loopback nor link-local; nothing when getifaddrs fails.
using InterfaceSnapshot = std::set<std::string>;
std::optional<InterfaceSnapshot> takeInterfaceSnapshot();
