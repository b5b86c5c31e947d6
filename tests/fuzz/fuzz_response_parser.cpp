// Any answer body: the parser never fails, and what it returns is consistent with itself.
#include "Fuzz.hpp"
#include "cycle/DynDnsResponse.hpp"
#include "status/IpAddress.hpp"
#include "support/Unicode.hpp"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    DynDnsResponse response = DynDnsResponseParser::parse(body);

    // raw is the trimmed body: a part of it, with nothing left to trim.
    require(body.find(response.raw) != std::string::npos && Unicode::trim(response.raw) == response.raw);
    require(!(response.isSuccess() && response.isFatal()));
    // A reported address is already canonical.
    require(!response.reportedIp || IpAddress::normalize(*response.reportedIp) == response.reportedIp);
    // Parsing the trimmed text again gives the same answer.
    require(DynDnsResponseParser::parse(response.raw) == response);
    require(size != 0 || DynDnsResponseParser::parse(std::nullopt) == response);
    return 0;
}
