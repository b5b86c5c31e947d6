// Any bytes as a name server's reply: reading never fails or overruns, and what it returns is well formed.
#include "Fuzz.hpp"
#include "dnscheck/DnsMessage.hpp"
#include "status/IpAddress.hpp"

#include <algorithm>
#include <arpa/nameser.h>

namespace {

void checkAddresses(const std::vector<std::string>& addresses) {
    require(std::is_sorted(addresses.begin(), addresses.end()) && addresses.size() <= 64 &&
            std::adjacent_find(addresses.begin(), addresses.end()) == addresses.end());
    for (const std::string& address : addresses) {
        require(IpAddress::normalize(address) == address);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const DnsMessage::Bytes query = DnsMessage::query("home.example.net", ns_t_a);
    DnsMessage::Bytes reply(data, data + size);
    // The query's random ID, so that the fuzzer reaches past the first check.
    if (reply.size() >= 2) {
        std::copy_n(query.begin(), 2, reply.begin());
    }
    if (std::optional<DnsMessage::AddressReply> read = DnsMessage::readAddressReply(reply, query)) {
        checkAddresses(read->addresses);
        require(read->kind == DnsMessage::Kind::answer || read->addresses.empty());
    }
    for (int type : {ns_t_a, ns_t_aaaa, ns_t_ns}) {
        if (std::optional<DnsMessage::Records> records =
                DnsMessage::readRecords(reply, "home.example.net", type)) {
            if (type != ns_t_ns) {
                checkAddresses(records->values);
            }
        }
    }
    return 0;
}
