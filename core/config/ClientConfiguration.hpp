// What Korvane updates and how: the seven stored settings of config.json and four fixed constants.
#pragma once

#include "support/Expected.hpp"
#include "support/Unicode.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ClientConfiguration {
    std::string hostname;
    std::string apiKey;
    std::int64_t updateIntervalMinutes = 5;
    bool enableIpv4 = true;
    bool enableIpv6 = false;
    std::vector<std::string> ipv4DiscoveryUrls = defaultIpv4DiscoveryUrls();
    std::vector<std::string> ipv6DiscoveryUrls = defaultIpv6DiscoveryUrls();

    static const std::string serverBaseUrl;
    static const std::string updateManifestUrl;
    static constexpr std::int64_t updateCheckIntervalHours = 12;
    static constexpr std::int64_t minIntervalMinutes = 1;

    static std::vector<std::string> defaultIpv4DiscoveryUrls();
    static std::vector<std::string> defaultIpv6DiscoveryUrls();

    // The first rule that fails, as a complete German message; changes nothing.
    Expected<void> validate() const;

    // Strict decoding: throws JsonStrict::DecodeError for anything but an object with keys of the right
    // types.
    static ClientConfiguration fromJson(std::string_view text);
    // All seven keys, sorted, pretty-printed, "/" escaped.
    std::string toJson() const;

    // "dyndns_" plus four characters and "…" for a key of at least 12 characters with that prefix;
    // otherwise only whether a key is set. Characters are user-perceived characters, not bytes.
    static std::string maskedApiKey(std::string_view key);
    // Text from the update service, which holds the key, as a log line, a message or status.json may show it:
    // every form in which the service can echo the key (SecretForms) masked, then made inert and bounded
    // (Unicode::shownPeerText).
    std::string shownServiceText(std::string_view text, std::size_t maxCharacters = Unicode::shownCharacters,
                                 std::size_t maxBytes = Unicode::shownBytes) const;

    bool operator==(const ClientConfiguration&) const = default;
};
