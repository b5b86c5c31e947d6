// When the menu-bar app tells the user that the host name stopped working or works again: the daemon's
// state turning to error and back to ok, the name servers serving another address and confirming again, and
// the home router's answer showing that the published IPv4 cannot reach this Mac. Pure: each poll passes
// what it read and the time.
#pragma once

#include "Notifier.hpp"
#include "status/DnsCheckFile.hpp"
#include "status/StatusFile.hpp"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

class NotificationRule {
public:
    // Each kind is posted at most once in this span, however often the state flaps.
    static constexpr std::chrono::hours spacing{1};

    // One poll: the status (nothing when none could be read) and the DNS outcome for the status's host
    // (nothing when there is none for it). The first poll only learns what holds at launch. What the user
    // was last told is remembered, so a change the spacing held back follows once it allows, if it still
    // holds then; a change undone before that gives nothing.
    std::vector<Notification> observe(const std::optional<DaemonStatus>& status,
                                      const std::optional<DnsCheck>& dns,
                                      std::chrono::system_clock::time_point now);

private:
    enum Kind { broken, worksAgain, mismatch, confirmedAgain, unreachable, kinds };

    bool mayPost(Kind kind, std::chrono::system_clock::time_point now);
    void forget();

    bool launched_ = false;
    std::optional<std::string> host_; // whom the two flags below are about
    bool toldBroken_ = false;
    bool toldMismatch_ = false;
    // The unreachable verdict last told. It is the network's, not the host's: only a reachable verdict
    // clears it, so neither a new host nor a network change that brings the same verdict back tells it again.
    std::optional<Reachability> toldUnreachable_;
    std::array<std::optional<std::chrono::system_clock::time_point>, kinds> posted_;
};
