// Any bytes as a name server's reply: reading never fails or overruns, and what it returns is well formed.
#include "dnscheck/DnsMessage.hpp"
#include "status/IpAddress.hpp"

#include <algorithm>
#include <arpa/nameser.h>
#include <cstddef>
#include <cstdint>

namespace {

void checkAddresses(const std::vector<std::string>& addresses) {
    if (!std::is_sorted(addresses.begin(), addresses.end()) || addresses.size() > 64 ||
        std::adjacent_find(addresses.begin(), addresses.end()) != addresses.end()) {
        __builtin_trap();
    }
    for (const std::string& address : addresses) {
        if (IpAddress::normalize(address) != address) {
            __builtin_trap();
        }
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
        if (read->kind != DnsMessage::Kind::answer && !read->addresses.empty()) {
            __builtin_trap();
        }
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
