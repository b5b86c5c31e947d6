#include "config/ClientConfiguration.hpp"

#include "support/BuildConstants.hpp"
#include "support/JsonStrict.hpp"
#include "support/SecretForms.hpp"
#include "support/Unicode.hpp"

const std::string ClientConfiguration::serverBaseUrl = BuildConstants::serverBaseUrl;
const std::string ClientConfiguration::updateManifestUrl = BuildConstants::updateManifestUrl;

std::vector<std::string> ClientConfiguration::defaultIpv4DiscoveryUrls() {
    return {"https://api.ipify.org", "https://ipv4.icanhazip.com"};
}

std::vector<std::string> ClientConfiguration::defaultIpv6DiscoveryUrls() {
    return {"https://api6.ipify.org", "https://ipv6.icanhazip.com"};
}

Expected<void> ClientConfiguration::validate() const {
    if (Unicode::trim(hostname).empty()) {
        return Failure{"Hostname fehlt."};
    }
    if (Unicode::trim(apiKey).empty()) {
        return Failure{"API-Key fehlt."};
    }
    if (!apiKey.starts_with("dyndns_")) {
        return Failure{
            "API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server abgelehnt."};
    }
    if (updateIntervalMinutes < minIntervalMinutes) {
        return Failure{"Update-Intervall muss mindestens " + std::to_string(minIntervalMinutes) +
                       " Minute(n) betragen."};
    }
    if (!enableIpv4 && !enableIpv6) {
        return Failure{"Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein."};
    }
    if (enableIpv4 && ipv4DiscoveryUrls.empty()) {
        return Failure{"IPv4 ist aktiviert, aber es ist keine IPv4-Discovery-URL konfiguriert."};
    }
    if (enableIpv6 && ipv6DiscoveryUrls.empty()) {
        return Failure{"IPv6 ist aktiviert, aber es ist keine IPv6-Discovery-URL konfiguriert."};
    }
    return {};
}

ClientConfiguration ClientConfiguration::fromJson(std::string_view text) {
    nlohmann::json object = JsonStrict::parseObject(text);
    ClientConfiguration config;
    config.hostname = JsonStrict::optionalString(object, "hostname").value_or(config.hostname);
    config.apiKey = JsonStrict::optionalString(object, "apiKey").value_or(config.apiKey);
    config.updateIntervalMinutes =
        JsonStrict::optionalInt64(object, "updateIntervalMinutes").value_or(config.updateIntervalMinutes);
    config.enableIpv4 = JsonStrict::optionalBool(object, "enableIpv4").value_or(config.enableIpv4);
    config.enableIpv6 = JsonStrict::optionalBool(object, "enableIpv6").value_or(config.enableIpv6);
    if (auto urls = JsonStrict::optionalStringArray(object, "ipv4DiscoveryUrls")) {
        config.ipv4DiscoveryUrls = std::move(*urls);
    }
    if (auto urls = JsonStrict::optionalStringArray(object, "ipv6DiscoveryUrls")) {
        config.ipv6DiscoveryUrls = std::move(*urls);
    }
    return config;
}

std::string ClientConfiguration::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["hostname"] = hostname;
    object["apiKey"] = apiKey;
    object["updateIntervalMinutes"] = updateIntervalMinutes;
    object["enableIpv4"] = enableIpv4;
    object["enableIpv6"] = enableIpv6;
    object["ipv4DiscoveryUrls"] = ipv4DiscoveryUrls;
    object["ipv6DiscoveryUrls"] = ipv6DiscoveryUrls;
    return JsonStrict::writePretty(object);
}

std::string ClientConfiguration::maskedApiKey(std::string_view key) {
    constexpr std::string_view keyPrefix = "dyndns_";
    constexpr size_t shownCharacters = 11; // the prefix and four more
    constexpr size_t minimumMaskedLength = 12;
    if (key.starts_with(keyPrefix)) {
        std::vector<std::string_view> characters = Unicode::graphemes(key);
        if (characters.size() >= minimumMaskedLength) {
            // The clusters are consecutive views into `key`, so the shown part is a prefix of it.
            const std::string_view& last = characters[shownCharacters - 1];
            size_t shownBytes = static_cast<size_t>(last.data() + last.size() - key.data());
            return std::string(key.substr(0, shownBytes)) + "…";
        }
    }
    return key.empty() ? "(leer)" : "(gesetzt)";
}

std::string ClientConfiguration::shownServiceText(std::string_view text, std::size_t maxCharacters,
                                                  std::size_t maxBytes) const {
    return Unicode::shownPeerText(SecretForms::hidden(text, hostname, apiKey, maskedApiKey(apiKey)),
                                  maxCharacters, maxBytes);
}
