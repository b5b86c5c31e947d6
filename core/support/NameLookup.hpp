// A host name's addresses within a deadline. libcurl joins its resolver thread when a transfer ends, so a
// name server that never answers would hold a request far past its bound (only libcurl 7.87 and later can
// detach it, with CURLOPT_QUICK_EXIT; macOS 13 ships 7.84 and 7.85): here getaddrinfo runs in a detached
// thread that owns everything it touches, and a lookup past the deadline is abandoned, never waited for.
#pragma once

#include "support/Expected.hpp"

#include <chrono>
#include <string>

namespace NameLookup {

// The addresses as CURLOPT_RESOLVE lists them ("192.0.2.1,[2001:db8::1]"), or why there are none.
Expected<std::string> resolve(const std::string& host, std::chrono::steady_clock::time_point deadline);

} // namespace NameLookup
