// How the orchestrator sends an update; the HTTPS implementation is HttpDynDnsUpdateClient.
#pragma once

#include "cycle/DynDnsResponse.hpp"
#include "support/Expected.hpp"

#include <optional>
#include <string>

class DynDnsUpdating {
public:
    virtual ~DynDnsUpdating() = default;

    // At least one address is present. Fails when no answer arrived (connection, name resolution, TLS,
    // time-out), with the transfer's text.
    virtual Expected<DynDnsResponse> send(const std::optional<std::string>& ipv4,
                                          const std::optional<std::string>& ipv6) = 0;
};
