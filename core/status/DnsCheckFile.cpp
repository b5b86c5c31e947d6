#include "status/DnsCheckFile.hpp"

#include "status/IpAddress.hpp"
#include "support/Rfc3339.hpp"

#include <array>
#include <nlohmann/json.hpp>

namespace {

using JsonStrict::requiredString;

std::vector<DnsServer> decodeServers(const nlohmann::json& object) {
    std::vector<DnsServer> servers;
    auto found = object.find("servers");
    if (found == object.end() || found->is_null()) {
        return servers;
    }
    if (!found->is_array()) {
        throw JsonStrict::DecodeError("key \"servers\" is not an array");
    }
    for (const nlohmann::json& entry : *found) {
        if (!entry.is_object()) {
            throw JsonStrict::DecodeError("a server is not an object");
        }
        servers.push_back({requiredString(entry, "name"), requiredString(entry, "address")});
    }
    return servers;
}

} // namespace

std::string_view DnsCheck::text(DnsOutcome outcome) {
    switch (outcome) {
    case DnsOutcome::confirmed:
        return "confirmed";
    case DnsOutcome::pending:
        return "pending";
    case DnsOutcome::mismatch:
        return "mismatch";
    case DnsOutcome::unknown:
        return "unknown";
    }
    return "unknown";
}

std::optional<DnsOutcome> DnsCheck::outcomeFromText(std::string_view text) {
    return JsonStrict::oneOf(
        std::array{DnsOutcome::confirmed, DnsOutcome::pending, DnsOutcome::mismatch, DnsOutcome::unknown},
        DnsCheck::text, text);
}

std::string DnsCheckFile::encode(const DnsCheck& check) {
    nlohmann::json servers = nlohmann::json::array();
    for (const DnsServer& server : check.servers) {
        servers.push_back({{"address", server.address}, {"name", server.name}});
    }
    nlohmann::json object = {{"checkedAt", Rfc3339::format(check.checkedAt)},
                             {"hostname", check.hostname},
                             {"outcome", std::string(DnsCheck::text(check.outcome))},
                             {"served", check.served},
                             {"servers", servers}};
    return JsonStrict::writePretty(object);
}

std::optional<DnsCheck> DnsCheckFile::fromObject(const nlohmann::json& object) {
    std::string hostname = requiredString(object, "hostname");
    std::optional<DnsOutcome> outcome = DnsCheck::outcomeFromText(requiredString(object, "outcome"));
    std::optional<std::chrono::system_clock::time_point> checkedAt =
        Rfc3339::parse(requiredString(object, "checkedAt"));
    std::vector<std::string> served =
        JsonStrict::optionalStringArray(object, "served").value_or(std::vector<std::string>{});
    for (const std::string& address : served) {
        if (!IpAddress::isValidIpv4(address) && !IpAddress::isValidIpv6(address)) {
            return std::nullopt;
        }
    }
    if (!outcome || !checkedAt) {
        return std::nullopt;
    }
    return DnsCheck{std::move(hostname), *outcome, std::move(served), decodeServers(object), *checkedAt};
}
