#include "support/CurlProcess.hpp"

#include "support/HttpTrust.hpp"

#include <array>
#include <cstddef>
#include <mutex>

namespace CurlProcess {
namespace {

// One lock per kind of shared data, taken by libcurl through the callbacks: the daemon's two threads use
// the cache at once. Never destroyed, like the share itself.
std::mutex& lockFor(curl_lock_data data) {
    static auto* locks = new std::array<std::mutex, CURL_LOCK_DATA_LAST>();
    auto index = static_cast<std::size_t>(data);
    return (*locks)[index < locks->size() ? index : 0];
}

void lock(CURL*, curl_lock_data data, curl_lock_access, void*) {
    lockFor(data).lock();
}

void unlock(CURL*, curl_lock_data data, void*) {
    lockFor(data).unlock();
}

} // namespace

Expected<void> start() {
    static const bool started = [] {
        HttpTrust::prepareProcess();
        // OpenSSL here, LibreSSL in Apple's libcurl, whatever CURL_SSL_BACKEND says: the other backend of
        // Apple's libcurl (Secure Transport) refuses a CA directory, which would refuse every request. A
        // libcurl with one backend only keeps it.
        curl_global_sslset(CURLSSLBACKEND_OPENSSL, nullptr, nullptr);
        return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }();
    if (!started) {
        return Failure{"curl_global_init failed"};
    }
    return {};
}

CURLSH* sharedSessions() {
    // Never cleaned up: a session may still run on another thread while the process exits.
    static CURLSH* const share = [] {
        CURLSH* made = curl_share_init();
        if (made != nullptr &&
            (curl_share_setopt(made, CURLSHOPT_LOCKFUNC, &lock) != CURLSHE_OK ||
             curl_share_setopt(made, CURLSHOPT_UNLOCKFUNC, &unlock) != CURLSHE_OK ||
             curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK)) {
            curl_share_cleanup(made);
            made = nullptr;
        }
        return made;
    }();
    return share;
}

} // namespace CurlProcess
