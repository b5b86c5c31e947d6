// libcurl's state for the whole process: its one start, and the TLS sessions every handle shares.
#pragma once

#include "support/Expected.hpp"

#include <curl/curl.h>

namespace CurlProcess {

// Starts libcurl once, after the trusted roots' process setting; a failed start stays failed.
Expected<void> start();

// The TLS session cache every request shares, so that later handshakes resume; null when libcurl cannot
// share.
CURLSH* sharedSessions();

} // namespace CurlProcess
