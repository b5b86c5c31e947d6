// The one HTTPS client of the system: each GET is sent once, over https only with full verification, within
// an overall time bound and a cap on the body, and carries nothing from the environment (cookies, .netrc,
// cache, proxies).
#pragma once

#include "support/Expected.hpp"
#include "support/HttpTrust.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct HttpResponse {
    long status = 0;  // the final answer's status code, after redirects
    std::string body; // raw bytes, at most the session's body limit

    bool operator==(const HttpResponse&) const = default;
};

class HttpSession {
public:
    // Enough for an address or an answer word; an unbounded body from a peer is unsafe input.
    static constexpr std::size_t defaultBodyLimit = 64 * 1024;
    static constexpr long maxRedirects = 5;

    struct Options {
        // Bounds the connection set-up (name resolution included) and, after it, every wait for data: no
        // byte for that long ends the transfer.
        std::chrono::milliseconds requestTimeout{10000};
        // Bounds each request as a whole, redirects included; absent means requestTimeout. A peer that
        // drips one byte at a time never trips the idle bound, only this one.
        std::optional<std::chrono::milliseconds> totalTimeout = std::nullopt;
        std::size_t bodyLimit = defaultBodyLimit;
        HttpTrust trust; // the roots peers are checked against (the program's: ClientRoot)

        std::chrono::milliseconds total() const { return totalTimeout.value_or(requestTimeout); }
    };

    struct Credential {
        std::string user;
        std::string password;
    };

    using SocketPreparation = std::function<Expected<void>(int socket, int family)>;

    struct RequestOptions {
        // Sent as HTTP Basic by libcurl itself, to the first host only, never after a redirect elsewhere.
        // Credentials inside a URL are refused: a request carries none unless given here.
        std::optional<Credential> basicAuth;
        // Called with each socket of the request (its address family beside it) before it connects. A
        // failure closes that socket and, when no other address connects, ends the request with its text.
        SocketPreparation prepareSocket;
    };

    // A session; one for which libcurl could not start or give a handle answers every call with that.
    static HttpSession open(Options options);
    ~HttpSession();

    // A plain GET. Headers are complete lines such as "User-Agent: x". A failed transfer answers the
    // transfer's own text, one inert line whatever a peer named; calls on one session are serialised. A
    // session whose safety settings libcurl refused sends nothing and answers every call with the refusal.
    Expected<HttpResponse> get(const std::string& url, const std::vector<std::string>& headers = {},
                               const RequestOptions& options = {});

    // Whether libcurl's URL parser accepts the text as an absolute URL (RFC 3986).
    static bool isValidUrl(const std::string& text);
    // A valid URL whose scheme is written "https", in lower case.
    static bool isHttpsUrl(const std::string& text);

private:
    struct Handle;
    struct Hop;

    HttpSession(Options options, std::unique_ptr<Handle> handle);

    Expected<HttpResponse> perform(const std::string& url, const std::vector<std::string>& headers,
                                   const RequestOptions& options);
    Hop transfer(const std::string& url, const std::vector<std::string>& headers,
                 const Credential* credential, const SocketPreparation& prepareSocket,
                 std::chrono::steady_clock::time_point deadline);

    Options options_;
    std::unique_ptr<Handle> handle_;
};
