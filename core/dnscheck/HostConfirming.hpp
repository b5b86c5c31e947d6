// What one round of questions to the host name's authoritative name servers found, and who asks them.
#pragma once

#include "status/AddressPair.hpp"
#include "status/DnsCheckFile.hpp"

#include <optional>
#include <string>
#include <vector>

// What one round of questions found. Each family is judged on its own: a family asked that no server
// answered confirms nothing.
struct DnsObservation {
    bool answered = false; // at least one server gave an authoritative answer for a family
    bool ipv4Differs = false;
    bool ipv6Differs = false;
    std::vector<std::string> served; // every address the answering servers served, sorted
    std::vector<DnsServer> servers;  // those asked
    bool ipv4Unanswered = false;     // asked, and no server answered
    bool ipv6Unanswered = false;

    bool differs() const { return ipv4Differs || ipv6Differs; }
    bool matches() const { return answered && !differs() && !ipv4Unanswered && !ipv6Unanswered; }
};

class HostConfirming {
public:
    virtual ~HostConfirming() = default;
    virtual DnsObservation observe(const AddressPair& published) = 0;
};
