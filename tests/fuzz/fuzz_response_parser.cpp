// Any answer body: the parser never fails, and what it returns is consistent with itself.
#include "cycle/DynDnsResponse.hpp"
#include "status/IpAddress.hpp"
#include "support/Unicode.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    DynDnsResponse response = DynDnsResponseParser::parse(body);

    // raw is the trimmed body: a part of it, with nothing left to trim.
    if (body.find(response.raw) == std::string::npos || Unicode::trim(response.raw) != response.raw) {
        __builtin_trap();
    }
    if (response.isSuccess() && response.isFatal()) {
        __builtin_trap();
    }
    // A reported address is already canonical.
    if (response.reportedIp && IpAddress::normalize(*response.reportedIp) != response.reportedIp) {
        __builtin_trap();
    }
    // Parsing the trimmed text again gives the same answer.
    if (DynDnsResponseParser::parse(response.raw) != response) {
        __builtin_trap();
    }
    if (size == 0 && DynDnsResponseParser::parse(std::nullopt) != response) {
        __builtin_trap();
    }
    return 0;
}
