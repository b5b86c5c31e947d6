#include "support/HttpSession.hpp"

#include "support/CurlProcess.hpp"
#include "support/Descriptor.hpp"
#include "support/NameLookup.hpp"
#include "support/Unicode.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// libcurl reads 0 as "no bound at all".
long clampedMilliseconds(std::chrono::milliseconds value) {
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(value.count(), 1));
}

Failure timedOut(const HttpSession::Options& options) {
    return Failure{"Timeout was reached: no complete answer within " +
                   std::to_string(clampedMilliseconds(options.total())) + " milliseconds"};
}

using CurlList = std::unique_ptr<curl_slist, void (*)(curl_slist*)>;

// Where a request goes: credentials are given to the first one only.
struct Origin {
    std::string host; // lower case, without the brackets of an IPv6 literal
    std::string port;

    bool operator==(const Origin&) const = default;
};

using ParsedUrl = std::unique_ptr<CURLU, void (*)(CURLU*)>;

// libcurl's reading of a URL; null when its parser refuses the text.
ParsedUrl parsedUrl(const std::string& url) {
    ParsedUrl parsed(curl_url(), curl_url_cleanup);
    if (parsed != nullptr && curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        parsed.reset();
    }
    return parsed;
}

std::optional<std::string> partOf(const ParsedUrl& parsed, CURLUPart which, unsigned flags = 0) {
    char* value = nullptr;
    if (curl_url_get(parsed.get(), which, &value, flags) != CURLUE_OK) {
        return std::nullopt;
    }
    std::string text = value;
    curl_free(value);
    return text;
}

// The origin of an https URL; nothing for anything else, which libcurl then refuses by itself.
std::optional<Origin> originOf(const std::string& url) {
    ParsedUrl parsed = parsedUrl(url);
    if (parsed == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> host = partOf(parsed, CURLUPART_HOST);
    std::optional<std::string> port = partOf(parsed, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (partOf(parsed, CURLUPART_SCHEME) != "https" || !host || !port || host->empty()) {
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
    ParsedUrl parsed = parsedUrl(url);
    std::optional<std::string> written = parsed ? partOf(parsed, CURLUPART_HOST) : std::nullopt;
    if (!written || std::all_of(written->begin(), written->end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return url; // nothing to convert, or libcurl refuses it by itself
    }
    std::optional<std::string> ascii = Unicode::asciiHostName(*written);
    std::optional<std::string> rebuilt;
    if (ascii && curl_url_set(parsed.get(), CURLUPART_HOST, ascii->c_str(), 0) == CURLUE_OK) {
        rebuilt = partOf(parsed, CURLUPART_URL);
    }
    if (!rebuilt) {
        return Failure{"Could not resolve host: " + *written + " (no ASCII form)"};
    }
    return *rebuilt;
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

// Sets options and remembers the first one libcurl refused: an older libcurl that does not know an
// option must not silently run a request without it.
class OptionSetter {
public:
    explicit OptionSetter(CURL* curl) : curl_(curl) {}

    template <typename Value> void set(CURLoption option, const char* name, Value value) {
        CURLcode code = curl_easy_setopt(curl_, option, value);
        if (code != CURLE_OK && failure_.empty()) {
            failure_ = std::string("libcurl refused ") + name + ": " + curl_easy_strerror(code);
        }
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

// What a request hands libcurl besides its options, alive until the transfer ends.
struct RequestLists {
    CurlList resolved{nullptr, curl_slist_free_all}; // the host's addresses; none for an address in the URL
    CurlList headers{nullptr, curl_slist_free_all};
};

Expected<RequestLists> requestLists(const std::string& url, const std::vector<std::string>& headers,
                                    Clock::time_point connectDeadline) {
    RequestLists lists;
    if (std::optional<Origin> origin = originOf(url); origin && !isAddressLiteral(origin->host)) {
        Expected<std::string> addresses = NameLookup::resolve(origin->host, connectDeadline);
        if (!addresses) {
            return addresses.failure();
        }
        std::string entry = origin->host + ":" + origin->port + ":" + *addresses;
        lists.resolved.reset(curl_slist_append(nullptr, entry.c_str()));
        if (lists.resolved == nullptr) {
            return Failure{"Out of memory"};
        }
    }
    for (const std::string& header : headers) {
        // On success the head stays the same once there is one; on failure the old list is intact.
        curl_slist* head = curl_slist_append(lists.headers.get(), header.c_str());
        if (head == nullptr) {
            return Failure{"Out of memory"};
        }
        if (lists.headers == nullptr) {
            lists.headers.reset(head);
        }
    }
    return lists;
}

// Where libcurl's callbacks find their transfer; none between transfers.
void pointCallbacks(OptionSetter& s, Transfer* transfer) {
    KORVANE_SET(s, CURLOPT_WRITEDATA, transfer);
    KORVANE_SET(s, CURLOPT_HEADERDATA, transfer);
    KORVANE_SET(s, CURLOPT_PREREQDATA, transfer);
    KORVANE_SET(s, CURLOPT_XFERINFODATA, transfer);
    KORVANE_SET(s, CURLOPT_OPENSOCKETDATA, transfer);
}

// Points the handle at one request; the first option libcurl refused, or nothing.
std::string setUp(CURL* c, const std::string& url, const RequestLists& lists,
                  const HttpSession::Credential* credential, Transfer& transfer,
                  Clock::time_point connectDeadline, Clock::time_point deadline) {
    OptionSetter s(c);
    KORVANE_SET(s, CURLOPT_URL, url.c_str());
    KORVANE_SET(s, CURLOPT_RESOLVE, lists.resolved.get());
    KORVANE_SET(s, CURLOPT_CONNECTTIMEOUT_MS, clampedMilliseconds(millisecondsUntil(connectDeadline)));
    KORVANE_SET(s, CURLOPT_TIMEOUT_MS, clampedMilliseconds(millisecondsUntil(deadline)));
    KORVANE_SET(s, CURLOPT_HTTPGET, 1L);
    KORVANE_SET(s, CURLOPT_HTTPHEADER, lists.headers.get());
    if (credential != nullptr) {
        KORVANE_SET(s, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
        KORVANE_SET(s, CURLOPT_USERNAME, credential->user.c_str());
        KORVANE_SET(s, CURLOPT_PASSWORD, credential->password.c_str());
    }
    pointCallbacks(s, &transfer);
    return s.failure();
}

// Nothing of a transfer may stay reachable from the handle once it returns; the first option libcurl refused
// to clear, or nothing.
std::string cleared(CURL* c, bool hadCredential) {
    OptionSetter reset(c);
    KORVANE_SET(reset, CURLOPT_RESOLVE, nullptr);
    KORVANE_SET(reset, CURLOPT_HTTPHEADER, nullptr);
    if (hadCredential) {
        KORVANE_SET(reset, CURLOPT_USERNAME, nullptr);
        KORVANE_SET(reset, CURLOPT_PASSWORD, nullptr);
    }
    pointCallbacks(reset, nullptr);
    return reset.failure();
}

// How a performed transfer ended: what our callbacks saw comes before libcurl's own text.
Expected<void> classify(CURLcode code, const Transfer& transfer, const std::string& curlError,
                        const HttpSession::Options& options) {
    if (transfer.overLimit) {
        return Failure{"Response body exceeds the limit of " + std::to_string(options.bodyLimit) + " bytes"};
    }
    if (transfer.idleExpired) {
        return Failure{"Timeout was reached: no data received for " +
                       std::to_string(options.requestTimeout.count()) + " milliseconds"};
    }
    if (code == CURLE_OPERATION_TIMEDOUT && transfer.requestSent) {
        return timedOut(options);
    }
    if (code == CURLE_OK) {
        return {};
    }
    if (!transfer.socketFailure.empty()) {
        return Failure{transfer.socketFailure};
    }
    return Failure{curlError.empty() ? curl_easy_strerror(code) : curlError};
}

} // namespace

struct HttpSession::Handle {
    std::unique_ptr<CURL, void (*)(CURL*)> curl{nullptr, curl_easy_cleanup};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    // Set when libcurl did not start or refused an option: the handle then runs no request at all.
    std::string refused;
    std::mutex lock; // calls on one session are serialised
};

HttpSession HttpSession::open(Options options) {
    auto handle = std::make_unique<Handle>();
    Expected<void> started = CurlProcess::start();
    if (started) {
        handle->curl.reset(curl_easy_init());
    }
    if (handle->curl == nullptr) {
        handle->refused = started ? "curl_easy_init failed" : started.failure().text;
        return HttpSession(std::move(options), std::move(handle));
    }
    OptionSetter s(handle->curl.get());
    KORVANE_SET(s, CURLOPT_ERRORBUFFER, handle->errorBuffer);
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
    // A new connection for every request, closed after it: libcurl silently sends a request again when a kept
    // connection turns out dead, and a request is sent once.
    KORVANE_SET(s, CURLOPT_FRESH_CONNECT, 1L);
    KORVANE_SET(s, CURLOPT_FORBID_REUSE, 1L);
    KORVANE_SET(s, CURLOPT_NOPROGRESS, 0L);
    KORVANE_SET(s, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    KORVANE_SET(s, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    KORVANE_SET(s, CURLOPT_PREREQFUNCTION, &Transfer::onRequestReady);
    KORVANE_SET(s, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    KORVANE_SET(s, CURLOPT_OPENSOCKETFUNCTION, &Transfer::onOpenSocket);
    // With a fresh connection each time, only shared TLS sessions keep later handshakes short.
    if (CURLSH* share = CurlProcess::sharedSessions(); share != nullptr) {
        KORVANE_SET(s, CURLOPT_SHARE, share);
    }

    switch (options.trust.source) {
    case HttpTrust::Source::bundleFile:
        KORVANE_SET(s, CURLOPT_CAINFO, options.trust.path.c_str());
        KORVANE_SET(s, CURLOPT_CAPATH, nullptr);
        break;
    case HttpTrust::Source::directory:
        // Debian's libcurl has a built-in bundle file too; without clearing it OpenSSL would parse
        // the whole bundle as well.
        KORVANE_SET(s, CURLOPT_CAINFO, nullptr);
        KORVANE_SET(s, CURLOPT_CAPATH, options.trust.path.c_str());
        break;
    case HttpTrust::Source::builtIn:
        break;
    }
    handle->refused = s.failure();
    return HttpSession(std::move(options), std::move(handle));
}

HttpSession::HttpSession(Options options, std::unique_ptr<Handle> handle)
    : options_(std::move(options)), handle_(std::move(handle)) {}

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
        return Failure{Unicode::shownPeerText(result.failure().text, Unicode::longShownCharacters,
                                              Unicode::longShownBytes)};
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
    std::lock_guard guard(handle_->lock);
    if (!handle_->refused.empty()) {
        return Failure{handle_->refused};
    }
    const Clock::time_point deadline = Clock::now() + options_.total();
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
    if (millisecondsUntil(deadline).count() == 0) {
        return {timedOut(options_), {}};
    }
    const Clock::time_point connectDeadline = std::min(deadline, Clock::now() + options_.requestTimeout);
    Expected<RequestLists> lists = requestLists(url, headers, connectDeadline);
    if (!lists) {
        return {lists.failure(), {}};
    }
    Transfer transfer;
    transfer.bodyLimit = options_.bodyLimit;
    transfer.prepareSocket = &prepareSocket;
    if (options_.requestTimeout < options_.total()) {
        transfer.idleLimit = options_.requestTimeout;
    }

    CURL* c = handle_->curl.get();
    handle_->errorBuffer[0] = '\0';
    const std::string refused = setUp(c, url, *lists, credential, transfer, connectDeadline, deadline);
    CURLcode code = refused.empty() ? curl_easy_perform(c) : CURLE_OK;
    long status = 0;
    char* location = nullptr;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &location);
    std::string redirect = location != nullptr ? location : "";
    // A handle that could not be cleared could leak one request's pointers or password into the next.
    handle_->refused = cleared(c, credential != nullptr);

    if (!refused.empty()) {
        return {Failure{refused}, {}};
    }
    if (Expected<void> ended = classify(code, transfer, handle_->errorBuffer, options_); !ended) {
        return {ended.failure(), {}};
    }
    return {HttpResponse{status, std::move(transfer.body)}, std::move(redirect)};
}

bool HttpSession::isHttpsUrl(const std::string& text) {
    // "https" exactly, as written: anything else would let a peer steer a request off TLS.
    return isValidUrl(text) && text.compare(0, 6, "https:") == 0;
}

bool HttpSession::isValidUrl(const std::string& text) {
    return text.find('\0') == std::string::npos && CurlProcess::start() && parsedUrl(text) != nullptr;
}
