// How the orchestrator learns the public addresses; the HTTPS implementation is HttpPublicIpResolver.
#pragma once

#include <optional>
#include <string>

class PublicIpResolving {
public:
    virtual ~PublicIpResolving() = default;

    // Every failure is logged by the implementation and ends as nothing.
    virtual std::optional<std::string> resolveIpv4() noexcept = 0;
    virtual std::optional<std::string> resolveIpv6() noexcept = 0;
};
