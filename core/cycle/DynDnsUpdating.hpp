// How the orchestrator sends an update; the HTTPS implementation is HttpDynDnsUpdateClient.
#pragma once

#include "cycle/DynDnsResponse.hpp"

#include <optional>
#include <stdexcept>
#include <string>

// No HTTP answer was received (connection, name resolution, TLS, time-out). what() is the description.
class TransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DynDnsUpdating {
public:
    virtual ~DynDnsUpdating() = default;

    // At least one address is present. Throws TransportError when no answer arrived.
    virtual DynDnsResponse send(const std::optional<std::string>& ipv4,
                                const std::optional<std::string>& ipv6) = 0;
};
