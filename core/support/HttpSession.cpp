#include "support/HttpSession.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

constexpr const char* systemCertificateDirectory = "/etc/ssl/certs";

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("curl_global_init failed");
        }
    });
}

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

long clampedMilliseconds(std::chrono::milliseconds value) {
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(value.count(), 1));
}

struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// The state of one transfer, reached from libcurl's callbacks.
struct Transfer {
    using Clock = std::chrono::steady_clock;

    std::string body;
    std::size_t bodyLimit = 0;
    bool overLimit = false;

    std::chrono::milliseconds idleLimit{0};
    Clock::time_point lastActivity = Clock::now();
    bool requestSent = false;
    bool idleExpired = false;

    void touch() { lastActivity = Clock::now(); }

    static size_t onBody(char* data, size_t size, size_t count, void* context) {
        auto* self = static_cast<Transfer*>(context);
        size_t length = size * count;
        if (self->body.size() + length > self->bodyLimit) {
            self->overLimit = true;
            return 0; // anything but `length` aborts the transfer
        }
        self->body.append(data, length);
        self->touch();
        return length;
    }

    static size_t onHeader(char*, size_t size, size_t count, void* context) {
        static_cast<Transfer*>(context)->touch();
        return size * count;
    }

    // Called once the connection is up, before the request goes out: from here on the idle bound
    // applies (the connect timeout covers what comes before).
    static int onRequestReady(void* context, char*, char*, int, int) {
        auto* self = static_cast<Transfer*>(context);
        self->requestSent = true;
        self->touch();
        return CURL_PREREQFUNC_OK;
    }

    // libcurl calls this at least about once a second, also while no byte arrives.
    static int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* self = static_cast<Transfer*>(context);
        if (self->requestSent && Clock::now() - self->lastActivity > self->idleLimit) {
            self->idleExpired = true;
            return 1;
        }
        return 0;
    }
};

} // namespace

HttpTrust HttpTrust::select(const char* certFile, const char* certDir, const std::string& systemDirectory,
                            const std::vector<std::string>& systemBundles) {
    if (isSet(certFile)) {
        return {Source::bundleFile, certFile};
    }
    if (isSet(certDir)) {
        return {Source::directory, certDir};
    }
    // OpenSSL looks a root up by its subject hash ("xxxxxxxx.N"); a directory without such entries
    // verifies nothing.
    auto isHashedEntry = [](const std::filesystem::directory_entry& entry) {
        std::string name = entry.path().filename().string();
        std::size_t dot = name.find('.');
        auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
        return dot == 8 && name.size() > 9 && std::all_of(name.begin(), name.begin() + 8, isHex) &&
               std::all_of(name.begin() + 9, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    std::error_code ec;
    if (!systemDirectory.empty()) {
        for (std::filesystem::directory_iterator it(systemDirectory, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (isHashedEntry(*it)) {
                return {Source::directory, systemDirectory};
            }
        }
    }
    for (const std::string& bundle : systemBundles) {
        if (std::filesystem::is_regular_file(bundle, ec)) {
            return {Source::bundleFile, bundle};
        }
    }
    return {};
}

HttpTrust HttpTrust::fromEnvironment() {
    return select(std::getenv("SSL_CERT_FILE"), std::getenv("SSL_CERT_DIR"), systemCertificateDirectory);
}

struct HttpSession::Handle {
    CURL* curl = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Handle() {
        if (curl != nullptr) {
            curl_easy_cleanup(curl);
        }
    }
};

HttpSession::HttpSession(Options options)
    : options_(std::move(options)), handle_(std::make_unique<Handle>()) {
    initialiseCurlOnce();
    handle_->curl = curl_easy_init();
    if (handle_->curl == nullptr) {
        throw std::runtime_error("curl_easy_init failed");
    }
    CURL* c = handle_->curl;
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, handle_->errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, maxRedirects);
    // libcurl never sends Authorization to a host other than the first one unless this is set.
    curl_easy_setopt(c, CURLOPT_UNRESTRICTED_AUTH, 0L);
    curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    // An empty proxy disables the *_proxy environment variables too: no variable may reroute the key.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, clampedMilliseconds(options_.requestTimeout));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, &Transfer::onRequestReady);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);

    switch (options_.trust.source) {
    case HttpTrust::Source::bundleFile:
        curl_easy_setopt(c, CURLOPT_CAINFO, options_.trust.path.c_str());
        curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
        break;
    case HttpTrust::Source::directory:
        // Debian's libcurl has a built-in bundle file too; without clearing it OpenSSL would parse
        // the whole bundle as well.
        curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(c, CURLOPT_CAPATH, options_.trust.path.c_str());
        break;
    case HttpTrust::Source::builtIn:
        break;
    }
}

HttpSession::~HttpSession() = default;

HttpResult HttpSession::get(const std::string& url, const std::vector<std::string>& headers,
                            const RequestOptions& options) {
    return perform(url, headers, nullptr, options);
}

HttpResult HttpSession::post(const std::string& url, const std::vector<std::string>& headers,
                             const std::string& body, const RequestOptions& options) {
    // No "Expect: 100-continue" round trip: the body goes out with the request.
    std::vector<std::string> all = headers;
    all.emplace_back("Expect:");
    return perform(url, all, &body, options);
}

HttpResult HttpSession::perform(const std::string& url, const std::vector<std::string>& headers,
                                const std::string* postBody, const RequestOptions& options) {
    // libcurl takes C strings: an embedded NUL would silently cut the URL, a line break would add a header.
    if (url.find('\0') != std::string::npos) {
        return {std::nullopt, curl_easy_strerror(CURLE_URL_MALFORMAT)};
    }
    for (const std::string& header : headers) {
        if (header.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            return {std::nullopt, "Request header contains a line break or NUL byte"};
        }
    }
    std::lock_guard guard(lock_);
    CURL* c = handle_->curl;

    CurlList headerList;
    for (const std::string& header : headers) {
        // On success the head stays the same once there is one; on failure the old list is intact.
        curl_slist* head = curl_slist_append(headerList.get(), header.c_str());
        if (head == nullptr) {
            return {std::nullopt, "Out of memory"};
        }
        if (headerList == nullptr) {
            headerList.reset(head);
        }
    }

    Transfer transfer;
    transfer.bodyLimit = options_.bodyLimit;
    transfer.idleLimit = options_.requestTimeout;

    handle_->errorBuffer[0] = '\0';
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    if (postBody != nullptr) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody->size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, postBody->data());
    } else {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS,
                     options.totalTimeout ? clampedMilliseconds(*options.totalTimeout) : 0L);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);

    CURLcode code = curl_easy_perform(c);

    // Nothing of this transfer may stay reachable from the handle once it returns.
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    if (postBody != nullptr) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    }
    curl_easy_setopt(c, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, nullptr);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, nullptr);

    if (transfer.overLimit) {
        return {std::nullopt,
                "Response body exceeds the limit of " + std::to_string(options_.bodyLimit) + " bytes"};
    }
    if (transfer.idleExpired) {
        return {std::nullopt, "Timeout was reached: no data received for " +
                                  std::to_string(options_.requestTimeout.count()) + " milliseconds"};
    }
    if (code != CURLE_OK) {
        std::string error = handle_->errorBuffer;
        return {std::nullopt, error.empty() ? curl_easy_strerror(code) : error};
    }
    long status = 0;
    long connections = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &connections);
    return {HttpResponse{status, std::move(transfer.body), connections}, {}};
}

bool HttpSession::isValidUrl(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        return false;
    }
    initialiseCurlOnce();
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        return false;
    }
    bool valid = curl_url_set(parsed, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(parsed);
    return valid;
}
