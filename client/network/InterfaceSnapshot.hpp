// What of the machine's network the public address can depend on: the interfaces that are up, their
// addresses beyond the link, and the way out. Two equal snapshots mean nothing worth a cycle has changed.
#pragma once

#include "host/HostAddresses.hpp"

#include <optional>
#include <set>
#include <string>

// "{interface}" for each interface that is up and running (loopback aside), "{interface} {address}" for
// each of its addresses that is neither loopback nor link-local nor temporary, and "way out {address}" for
// the address each family would send from towards the internet (none without a route); nothing when a step
// fails. Temporary addresses come, turn deprecated and go about daily without changing the stable address
// that is published, so neither they nor the way out (the stable IPv6 source, as discovery asks for it)
// follow them.
using InterfaceSnapshot = std::set<std::string>;
std::optional<InterfaceSnapshot> takeInterfaceSnapshot();

// Neither link-local nor loopback: an address that says something about the way out.
bool beyondLink(const HostAddress& address);

// The interfaces' and addresses' part of the snapshot.
InterfaceSnapshot interfaceSnapshot(const HostAddresses& host);
