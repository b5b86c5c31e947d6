// What the daemon last learnt from the host's authoritative name servers, published in dnscheck.json beside
// status.json for the menu-bar app and other programs.
#pragma once

#include "status/PublishedFile.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class DnsOutcome { confirmed, pending, mismatch, unknown };

struct DnsServer {
    std::string name;    // as the zone's NS records give it
    std::string address; // the one address it was asked at

    bool operator==(const DnsServer&) const = default;
};

struct DnsCheck {
    std::string hostname; // the host asked for: an outcome says nothing about another
    DnsOutcome outcome;
    std::vector<std::string> served; // every address the answering servers served, sorted
    std::vector<DnsServer> servers;  // those asked
    std::chrono::system_clock::time_point checkedAt;

    // Exactly "confirmed", "pending", "mismatch" or "unknown".
    static std::string_view text(DnsOutcome outcome);
    static std::optional<DnsOutcome> outcomeFromText(std::string_view text);

    bool operator==(const DnsCheck&) const = default;
};

class DnsCheckFile : public PublishedFile<DnsCheckFile, DnsCheck> {
public:
    using PublishedFile::PublishedFile;

    static std::string encode(const DnsCheck& check);
    // Served addresses must be IPv4 or IPv6 addresses; anything else rejects the document.
    static std::optional<DnsCheck> fromObject(const nlohmann::json& object);
};
