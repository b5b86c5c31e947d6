#include "support/CurlProcess.hpp"

#include "support/HttpTrust.hpp"

#include <array>
#include <cstddef>
#include <mutex>

namespace CurlProcess {
namespace {

// The daemon's two threads use the cache at once: libcurl takes one lock per kind of shared data through the
// callbacks.
class Share {
public:
    Share() {
        share_ = curl_share_init();
        if (share_ == nullptr) {
            return;
        }
        bool ok = curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Share::lock) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Share::unlock) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
        if (!ok) {
            curl_share_cleanup(share_);
            share_ = nullptr;
        }
    }

    CURLSH* get() const { return share_; }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Share*>(self)->mutexFor(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<Share*>(self)->mutexFor(data).unlock();
    }
    std::mutex& mutexFor(curl_lock_data data) {
        auto index = static_cast<std::size_t>(data);
        return locks_[index < locks_.size() ? index : 0];
    }

    CURLSH* share_ = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

} // namespace

Expected<void> start() {
    static std::mutex lock;
    static bool started = false;
    std::lock_guard guard(lock);
    if (started) {
        return {};
    }
    HttpTrust::prepareProcess();
    // OpenSSL here, LibreSSL in Apple's libcurl, whatever CURL_SSL_BACKEND says: the other backend of Apple's
    // libcurl (Secure Transport) refuses a CA directory, which would refuse every request. A libcurl with one
    // backend only keeps it.
    curl_global_sslset(CURLSSLBACKEND_OPENSSL, nullptr, nullptr);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return Failure{"curl_global_init failed"};
    }
    started = true;
    return {};
}

CURLSH* sharedSessions() {
    // Never destroyed: a session may still run on another thread while the process exits.
    static Share* share = new Share();
    return share->get();
}

} // namespace CurlProcess
