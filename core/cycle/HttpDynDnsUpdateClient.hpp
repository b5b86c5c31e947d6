// The DynDNS update request over HTTPS: one GET to {base}/nic/update, authenticated with the host name
// and the API key, whose answer goes to DynDnsResponseParser.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "cycle/DynDnsUpdating.hpp"
#include "support/ClientLog.hpp"
#include "support/HttpSession.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class HttpDynDnsUpdateClient : public DynDnsUpdating {
public:
    // Requests go to {serviceBaseUrl}/nic/update. sessionTimeout is the longest wait for data;
    // requestTimeout bounds the whole request.
    HttpDynDnsUpdateClient(ClientConfiguration config, ClientLog log, std::string serviceBaseUrl,
                           std::chrono::milliseconds sessionTimeout, std::chrono::milliseconds requestTimeout,
                           HttpTrust trust);

    Expected<DynDnsResponse> send(const std::optional<std::string>& ipv4,
                                  const std::optional<std::string>& ipv6) override;

    // RFC 3986 query encoding: unreserved characters and ":" stay, every other byte becomes %XX.
    static std::string percentEncode(std::string_view text);

private:
    std::string buildUrl(const std::optional<std::string>& ipv4,
                         const std::optional<std::string>& ipv6) const;

    ClientConfiguration config_;
    HttpSession session_;
    ClientLog log_;
    std::string endpoint_;
};
