// Public-address discovery over HTTPS: asks the configured echo endpoints of one family in order until
// one answers a valid address of that family.
#pragma once

#include "config/ClientConfiguration.hpp"
#include "config/ClientLog.hpp"
#include "cycle/PublicIpResolving.hpp"
#include "host/DiscoverySocket.hpp"
#include "support/HttpSession.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class HttpPublicIpResolver : public PublicIpResolving {
public:
    // requestTimeout bounds each endpoint's request as a whole, so a peer that drips its answer cannot hold
    // the walk longer than that and the next endpoint is still tried.
    HttpPublicIpResolver(ClientConfiguration config, ClientLog log, std::chrono::milliseconds requestTimeout);

    std::optional<std::string> resolveIpv4() override;
    std::optional<std::string> resolveIpv6() override;

private:
    std::optional<std::string> resolve(const std::vector<std::string>& urls, std::string_view family,
                                       bool (*isValid)(std::string_view), const DiscoveryPath& path);
    // The address to publish for what the IPv6 echo saw: never one of the machine's temporary or deprecated
    // addresses.
    std::optional<std::string> stableIpv6(const std::string& echoed) const;

    ClientConfiguration config_;
    HttpSession session_;
    ClientLog log_;
};
