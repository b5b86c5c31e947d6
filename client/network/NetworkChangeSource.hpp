// Tells the daemon that the machine's network may have changed, so that the DNS record can follow a new
// address within seconds instead of at the next interval. One implementation per platform, and a portable
// one that compares the interfaces once a minute.
#pragma once

#include "config/ClientLog.hpp"

#include <chrono>
#include <memory>
#include <string>

class NetworkChangeSource {
public:
    virtual ~NetworkChangeSource() = default;

    // Waits at most `timeout`; true when the network changed since the previous call, however often.
    virtual bool waitForChange(std::chrono::milliseconds timeout) = 0;
};

// The platform's notifications, or why they cannot be had (one file per platform).
struct PlatformNetworkChangeSource {
    std::unique_ptr<NetworkChangeSource> source;
    std::string failure;
};
PlatformNetworkChangeSource openPlatformNetworkChangeSource();

// The platform's source; when it cannot be opened, one WARN line and the portable comparison of the
// interfaces once a minute.
std::unique_ptr<NetworkChangeSource> openNetworkChangeSource(const ClientLog& log);
