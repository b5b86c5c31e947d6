#include "support/HttpSession.hpp"

#include "support/Unicode.hpp"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        HttpTrust::prepareProcess();
        // OpenSSL here, LibreSSL in Apple's libcurl, whatever CURL_SSL_BACKEND says: the other backend of
        // Apple's libcurl (Secure Transport) refuses a CA directory, which would refuse every request. A
        // libcurl with one backend only keeps it.
        curl_global_sslset(CURLSSLBACKEND_OPENSSL, nullptr, nullptr);
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("curl_global_init failed");
        }
    });
}

long clampedMilliseconds(std::chrono::milliseconds value) {
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(value.count(), 1));
}

struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds until(Clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
}

// Where a request goes: credentials are given to the first one only.
struct Origin {
    std::string host; // lower case, without the brackets of an IPv6 literal
    std::string port;

    bool operator==(const Origin&) const = default;
};

// The origin of an https URL; nothing for anything else, which libcurl then refuses by itself.
std::optional<Origin> originOf(const std::string& url) {
    std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
    if (parsed == nullptr || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    auto part = [&parsed](CURLUPart which, unsigned flags) -> std::optional<std::string> {
        char* value = nullptr;
        if (curl_url_get(parsed.get(), which, &value, flags) != CURLUE_OK) {
            return std::nullopt;
        }
        std::string text = value;
        curl_free(value);
        return text;
    };
    std::optional<std::string> scheme = part(CURLUPART_SCHEME, 0);
    std::optional<std::string> host = part(CURLUPART_HOST, 0);
    std::optional<std::string> port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (scheme != "https" || !host || !port || host->empty()) {
        return std::nullopt;
    }
    if (host->front() == '[' && host->back() == ']') {
        *host = host->substr(1, host->size() - 2);
    }
    return Origin{Unicode::asciiLower(*host), *port};
}

// The URL as libcurl gets it, with an internationalised host name in its ASCII form. libcurl converts such a
// name only where it was built with IDN support and the locale lets it (the C locale never does), and it then
// looks the converted name up itself, past every bound of ours: it no longer matches what was looked up here.
Expected<std::string> withAsciiHost(const std::string& url) {
    std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
    char* host = nullptr;
    if (parsed == nullptr || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
        return url; // libcurl refuses it by itself
    }
    const std::string written = host;
    curl_free(host);
    if (std::all_of(written.begin(), written.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return url;
    }
    std::optional<std::string> ascii = Unicode::asciiHostName(written);
    char* rebuilt = nullptr;
    if (!ascii || curl_url_set(parsed.get(), CURLUPART_HOST, ascii->c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_URL, &rebuilt, 0) != CURLUE_OK) {
        return Failure{"Could not resolve host: " + written + " (no ASCII form)"};
    }
    std::string result = rebuilt;
    curl_free(rebuilt);
    return result;
}

// libcurl reads an address in the URL itself, without a resolver; an IPv6 one (perhaps with a zone) has
// colons.
bool isAddressLiteral(const std::string& host) {
    in_addr buffer{};
    return host.find(':') != std::string::npos || ::inet_pton(AF_INET, host.c_str(), &buffer) == 1;
}

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Name resolution within a deadline. libcurl joins its resolver thread when a transfer ends, so a name
// server that never answers would hold a request far past its bound (only libcurl 7.87 and later can
// detach it, with CURLOPT_QUICK_EXIT; macOS 13 ships 7.84 and 7.85). Here getaddrinfo runs in a detached
// thread of ours that owns everything it touches: a lookup past the deadline is abandoned, never waited
// for. libcurl gets the addresses through CURLOPT_RESOLVE and resolves nothing itself.
class NameLookup {
public:
    // The addresses as CURLOPT_RESOLVE lists them ("192.0.2.1,[2001:db8::1]"), or why there are none.
    static Expected<std::string> resolve(const std::string& host, Clock::time_point deadline) {
        auto state = std::make_shared<NameLookup>();
        try {
            std::thread([state, host] { state->run(host); }).detach();
        } catch (const std::system_error& failure) {
            return Failure{std::string("Could not start a name lookup: ") + failure.what()};
        }
        std::unique_lock guard(state->lock_);
        if (!state->finished_.wait_until(guard, deadline, [&state] { return state->done_; })) {
            return Failure{"Timeout was reached: no address for " + host + " in time"};
        }
        if (state->addresses_.empty()) {
            return Failure{"Could not resolve host: " + host + " (" + state->failure_ + ")"};
        }
        return state->addresses_;
    }

private:
    void run(const std::string& host) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        std::string addresses;
        for (addrinfo* entry = status == 0 ? found : nullptr; entry != nullptr; entry = entry->ai_next) {
            char text[INET6_ADDRSTRLEN] = {};
            const void* raw = nullptr;
            if (entry->ai_family == AF_INET) {
                raw = &reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr;
            } else if (entry->ai_family == AF_INET6) {
                raw = &reinterpret_cast<sockaddr_in6*>(entry->ai_addr)->sin6_addr;
            }
            if (raw == nullptr || ::inet_ntop(entry->ai_family, raw, text, sizeof text) == nullptr) {
                continue;
            }
            std::string shown = entry->ai_family == AF_INET6 ? "[" + std::string(text) + "]" : text;
            if (("," + addresses + ",").find("," + shown + ",") == std::string::npos) {
                addresses += (addresses.empty() ? "" : ",") + shown;
            }
        }
        if (found != nullptr) {
            ::freeaddrinfo(found);
        }
        std::lock_guard guard(lock_);
        addresses_ = std::move(addresses);
        failure_ = status == 0 ? "no address" : ::gai_strerror(status);
        done_ = true;
        finished_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable finished_;
    bool done_ = false;
    std::string addresses_;
    std::string failure_;
};

// The TLS session cache of the whole process. Every request opens its own
// connection, so without it each handshake would be a full one. The daemon's two threads use it at
// once: libcurl takes one lock per kind of shared data through the callbacks.
class ProcessShare {
public:
    // Null when libcurl cannot share: then each session simply does its own handshakes.
    static CURLSH* handle() {
        // Never destroyed: a session may still run on another thread while the process exits.
        static ProcessShare* share = new ProcessShare();
        return share->share_;
    }

private:
    ProcessShare() {
        share_ = curl_share_init();
        if (share_ == nullptr) {
            return;
        }
        bool ok = curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &ProcessShare::lock) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &ProcessShare::unlock) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
        if (!ok) {
            curl_share_cleanup(share_);
            share_ = nullptr;
        }
    }

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<ProcessShare*>(self)->mutexFor(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<ProcessShare*>(self)->mutexFor(data).unlock();
    }
    std::mutex& mutexFor(curl_lock_data data) {
        auto index = static_cast<std::size_t>(data);
        return locks_[index < locks_.size() ? index : 0];
    }

    CURLSH* share_ = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

// Sets options and remembers the first one libcurl refused: an older libcurl that does not know an
// option must not silently run a request without it.
class OptionSetter {
public:
    explicit OptionSetter(CURL* curl) : curl_(curl) {}

    template <typename Value> bool set(CURLoption option, const char* name, Value value) {
        CURLcode code = curl_easy_setopt(curl_, option, value);
        if (code != CURLE_OK && failure_.empty()) {
            failure_ = std::string("libcurl refused ") + name + ": " + curl_easy_strerror(code);
        }
        return code == CURLE_OK;
    }

    // https only, for the first request and every redirect. CURLOPT_PROTOCOLS_STR came with libcurl
    // 7.85; an older one still knows the bit mask, so the fallback restricts just as much.
    void restrictToHttps() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "https") != CURLE_OK) {
            set(CURLOPT_PROTOCOLS, "CURLOPT_PROTOCOLS", static_cast<long>(CURLPROTO_HTTPS));
        }
        if (curl_easy_setopt(curl_, CURLOPT_REDIR_PROTOCOLS_STR, "https") != CURLE_OK) {
            set(CURLOPT_REDIR_PROTOCOLS, "CURLOPT_REDIR_PROTOCOLS", static_cast<long>(CURLPROTO_HTTPS));
        }
#pragma GCC diagnostic pop
    }

    const std::string& failure() const {
        return failure_;
    }

private:
    CURL* curl_;
    std::string failure_;
};

#define KORVANE_SET(setter, option, value) (setter).set(option, #option, value)

// The state of one transfer, reached from libcurl's callbacks.
struct Transfer {
    std::string body;
    std::size_t bodyLimit = 0;
    bool overLimit = false;

    // Zero when the overall bound is the shorter one anyway.
    std::chrono::milliseconds idleLimit{0};
    Clock::time_point lastActivity = Clock::now();
    bool requestSent = false;
    bool idleExpired = false;
    const HttpSession::SocketPreparation* prepareSocket = nullptr;
    std::string socketFailure; // the hook's text when it refused a socket

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

    static curl_socket_t onOpenSocket(void* context, curlsocktype, curl_sockaddr* address) {
        auto* self = static_cast<Transfer*>(context);
        curl_socket_t fd = ::socket(address->family, address->socktype, address->protocol);
        if (fd == CURL_SOCKET_BAD || !*self->prepareSocket) {
            return fd;
        }
        Expected<void> prepared = (*self->prepareSocket)(fd, address->family);
        if (!prepared) {
            self->socketFailure = prepared.failure().text;
            ::close(fd);
            return CURL_SOCKET_BAD;
        }
        return fd;
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
        if (self->idleLimit.count() > 0 && self->requestSent &&
            Clock::now() - self->lastActivity > self->idleLimit) {
            self->idleExpired = true;
            return 1;
        }
        return 0;
    }
};

} // namespace

struct HttpSession::Handle {
    CURL* curl = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    // Set when libcurl refused an option: the handle then runs no request at all.
    std::string refused;

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
    OptionSetter s(handle_->curl);
    KORVANE_SET(s, CURLOPT_ERRORBUFFER, handle_->errorBuffer);
    KORVANE_SET(s, CURLOPT_NOSIGNAL, 1L);
    s.restrictToHttps();
    // Redirects are followed here, so that each new host is resolved within the bound as well.
    KORVANE_SET(s, CURLOPT_FOLLOWLOCATION, 0L);
    KORVANE_SET(s, CURLOPT_UNRESTRICTED_AUTH, 0L);
    KORVANE_SET(s, CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
    KORVANE_SET(s, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    // An empty proxy disables the *_proxy environment variables too: no variable may reroute the key.
    KORVANE_SET(s, CURLOPT_PROXY, "");
    KORVANE_SET(s, CURLOPT_TCP_NODELAY, 1L);
    KORVANE_SET(s, CURLOPT_SSL_VERIFYPEER, 1L);
    KORVANE_SET(s, CURLOPT_SSL_VERIFYHOST, 2L);
    KORVANE_SET(s, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    // A new connection for every request, closed after it: a request is never resent on a second one.
    KORVANE_SET(s, CURLOPT_FRESH_CONNECT, 1L);
    KORVANE_SET(s, CURLOPT_FORBID_REUSE, 1L);
    KORVANE_SET(s, CURLOPT_NOPROGRESS, 0L);
    KORVANE_SET(s, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    KORVANE_SET(s, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    KORVANE_SET(s, CURLOPT_PREREQFUNCTION, &Transfer::onRequestReady);
    KORVANE_SET(s, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    KORVANE_SET(s, CURLOPT_OPENSOCKETFUNCTION, &Transfer::onOpenSocket);
    if (CURLSH* share = ProcessShare::handle(); share != nullptr) {
        KORVANE_SET(s, CURLOPT_SHARE, share);
    }

    switch (options_.trust.source) {
    case HttpTrust::Source::bundleFile:
        KORVANE_SET(s, CURLOPT_CAINFO, options_.trust.path.c_str());
        KORVANE_SET(s, CURLOPT_CAPATH, nullptr);
        break;
    case HttpTrust::Source::directory:
        // Debian's libcurl has a built-in bundle file too; without clearing it OpenSSL would parse
        // the whole bundle as well.
        KORVANE_SET(s, CURLOPT_CAINFO, nullptr);
        KORVANE_SET(s, CURLOPT_CAPATH, options_.trust.path.c_str());
        break;
    case HttpTrust::Source::builtIn:
        break;
    }
    handle_->refused = s.failure();
}

HttpSession::~HttpSession() = default;

// One request of a chain: its answer, and where a redirect points.
struct HttpSession::Hop {
    Expected<HttpResponse> result;
    std::string redirect;
};

Expected<HttpResponse> HttpSession::get(const std::string& url, const std::vector<std::string>& headers,
                                        const RequestOptions& options) {
    Expected<HttpResponse> result = perform(url, headers, options);
    // libcurl's own texts name the host a redirect chose, and the peer chose that name: no caller may have to
    // remember.
    if (!result) {
        return Failure{Unicode::shownPeerText(result.failure().text, shownErrorCharacters, shownErrorBytes)};
    }
    return result;
}

Expected<HttpResponse> HttpSession::perform(const std::string& url, const std::vector<std::string>& headers,
                                            const RequestOptions& options) {
    // libcurl takes C strings: an embedded NUL would silently cut the URL, a line break would add a header.
    if (url.find('\0') != std::string::npos) {
        return Failure{curl_easy_strerror(CURLE_URL_MALFORMAT)};
    }
    for (const std::string& header : headers) {
        if (header.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            return Failure{"Request header contains a line break or NUL byte"};
        }
    }
    if (options.basicAuth && (options.basicAuth->user.find('\0') != std::string::npos ||
                              options.basicAuth->password.find('\0') != std::string::npos)) {
        return Failure{"Credential contains a NUL byte"};
    }
    std::lock_guard guard(lock_);
    if (!handle_->refused.empty()) {
        return Failure{handle_->refused};
    }
    const Clock::time_point deadline = Clock::now() + options_.totalTimeout.value_or(options_.requestTimeout);
    std::optional<Origin> first;
    std::string current = url;
    for (long redirects = 0;; ++redirects) {
        Expected<std::string> ascii = withAsciiHost(current);
        if (!ascii) {
            return ascii.failure();
        }
        const std::optional<Origin> origin = originOf(*ascii);
        if (redirects == 0) {
            first = origin;
        }
        // Credentials go to the first host and port only, never after a redirect elsewhere.
        const Credential* credential =
            options.basicAuth && first && origin == first ? &*options.basicAuth : nullptr;
        Hop hop = transfer(*ascii, headers, credential, options.prepareSocket, deadline);
        if (!hop.result) {
            return hop.result;
        }
        long status = hop.result->status;
        if (hop.redirect.empty() || !isRedirect(status)) {
            return hop.result;
        }
        if (redirects == maxRedirects) {
            return Failure{"Maximum (" + std::to_string(maxRedirects) + ") redirects followed"};
        }
        current = hop.redirect;
    }
}

HttpSession::Hop HttpSession::transfer(const std::string& url, const std::vector<std::string>& headers,
                                       const Credential* credential, const SocketPreparation& prepareSocket,
                                       Clock::time_point deadline) {
    CURL* c = handle_->curl;
    const std::chrono::milliseconds total = options_.totalTimeout.value_or(options_.requestTimeout);
    const Clock::time_point connectDeadline = std::min(deadline, Clock::now() + options_.requestTimeout);
    if (until(deadline).count() <= 0) {
        return {Failure{"Timeout was reached: no complete answer within " +
                        std::to_string(clampedMilliseconds(total)) + " milliseconds"},
                {}};
    }

    CurlList resolved;
    if (std::optional<Origin> origin = originOf(url); origin && !isAddressLiteral(origin->host)) {
        Expected<std::string> addresses = NameLookup::resolve(origin->host, connectDeadline);
        if (!addresses) {
            return {addresses.failure(), {}};
        }
        std::string entry = origin->host + ":" + origin->port + ":" + *addresses;
        resolved.reset(curl_slist_append(nullptr, entry.c_str()));
        if (resolved == nullptr) {
            return {Failure{"Out of memory"}, {}};
        }
    }

    CurlList headerList;
    for (const std::string& header : headers) {
        // On success the head stays the same once there is one; on failure the old list is intact.
        curl_slist* head = curl_slist_append(headerList.get(), header.c_str());
        if (head == nullptr) {
            return {Failure{"Out of memory"}, {}};
        }
        if (headerList == nullptr) {
            headerList.reset(head);
        }
    }

    Transfer transfer;
    transfer.bodyLimit = options_.bodyLimit;
    transfer.prepareSocket = &prepareSocket;
    if (options_.requestTimeout < total) {
        transfer.idleLimit = options_.requestTimeout;
    }

    handle_->errorBuffer[0] = '\0';
    OptionSetter s(c);
    KORVANE_SET(s, CURLOPT_URL, url.c_str());
    KORVANE_SET(s, CURLOPT_RESOLVE, resolved.get());
    KORVANE_SET(s, CURLOPT_CONNECTTIMEOUT_MS, clampedMilliseconds(until(connectDeadline)));
    KORVANE_SET(s, CURLOPT_TIMEOUT_MS, clampedMilliseconds(until(deadline)));
    KORVANE_SET(s, CURLOPT_HTTPGET, 1L);
    KORVANE_SET(s, CURLOPT_HTTPHEADER, headerList.get());
    if (credential != nullptr) {
        KORVANE_SET(s, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
        KORVANE_SET(s, CURLOPT_USERNAME, credential->user.c_str());
        KORVANE_SET(s, CURLOPT_PASSWORD, credential->password.c_str());
    }
    KORVANE_SET(s, CURLOPT_WRITEDATA, &transfer);
    KORVANE_SET(s, CURLOPT_HEADERDATA, &transfer);
    KORVANE_SET(s, CURLOPT_PREREQDATA, &transfer);
    KORVANE_SET(s, CURLOPT_XFERINFODATA, &transfer);
    KORVANE_SET(s, CURLOPT_OPENSOCKETDATA, &transfer);

    CURLcode code = s.failure().empty() ? curl_easy_perform(c) : CURLE_OK;
    const std::string refused = s.failure();

    long status = 0;
    char* location = nullptr;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &location);
    std::string redirect = location != nullptr ? location : "";

    // Nothing of this transfer may stay reachable from the handle once it returns.
    OptionSetter reset(c);
    KORVANE_SET(reset, CURLOPT_RESOLVE, nullptr);
    KORVANE_SET(reset, CURLOPT_HTTPHEADER, nullptr);
    if (credential != nullptr) {
        KORVANE_SET(reset, CURLOPT_USERNAME, nullptr);
        KORVANE_SET(reset, CURLOPT_PASSWORD, nullptr);
    }
    KORVANE_SET(reset, CURLOPT_WRITEDATA, nullptr);
    KORVANE_SET(reset, CURLOPT_HEADERDATA, nullptr);
    KORVANE_SET(reset, CURLOPT_PREREQDATA, nullptr);
    KORVANE_SET(reset, CURLOPT_XFERINFODATA, nullptr);
    KORVANE_SET(reset, CURLOPT_OPENSOCKETDATA, nullptr);
    // A handle that could not be cleared could leak one request's pointers or password into the next.
    handle_->refused = reset.failure();

    if (!refused.empty()) {
        return {Failure{refused}, {}};
    }
    if (transfer.overLimit) {
        return {
            Failure{"Response body exceeds the limit of " + std::to_string(options_.bodyLimit) + " bytes"},
            {}};
    }
    if (transfer.idleExpired) {
        return {Failure{"Timeout was reached: no data received for " +
                        std::to_string(options_.requestTimeout.count()) + " milliseconds"},
                {}};
    }
    if (code == CURLE_OPERATION_TIMEDOUT && transfer.requestSent) {
        return {Failure{"Timeout was reached: no complete answer within " +
                        std::to_string(clampedMilliseconds(total)) + " milliseconds"},
                {}};
    }
    if (code != CURLE_OK && !transfer.socketFailure.empty()) {
        return {Failure{transfer.socketFailure}, {}};
    }
    if (code != CURLE_OK) {
        std::string error = handle_->errorBuffer;
        return {Failure{error.empty() ? curl_easy_strerror(code) : error}, {}};
    }
    return {HttpResponse{status, std::move(transfer.body)}, std::move(redirect)};
}

bool HttpSession::isHttpsUrl(const std::string& text) {
    // "https" exactly, as written: anything else would let a peer steer a request off TLS.
    return isValidUrl(text) && text.compare(0, 6, "https:") == 0;
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
