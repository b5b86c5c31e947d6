// Where HTTPS sessions take their trusted roots from: the environment's choice, else the system's.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct HttpTrust {
    enum class Source {
        bundleFile, // one PEM file holding the roots
        directory,  // an OpenSSL hashed directory: only the roots a peer needs are loaded
        builtIn     // whatever libcurl was built with
    };

    Source source = Source::builtIn;
    std::string path; // empty for builtIn

    // SSL_CERT_FILE when set and not empty, else SSL_CERT_DIR when set and not empty, else the
    // system's directory when it holds hashed entries, else the first system bundle file that exists,
    // else libcurl's built-in default.
    static HttpTrust fromEnvironment();
    // The same rule over given values, so it can be checked without touching the environment. macOS
    // keeps an empty /etc/ssl/certs and its roots in /etc/ssl/cert.pem; Debian has both a hashed
    // directory and a bundle.
    static HttpTrust select(const std::optional<std::string>& certFile,
                            const std::optional<std::string>& certDir, const std::string& systemDirectory,
                            const std::vector<std::string>& systemBundles = {
                                "/etc/ssl/cert.pem", "/etc/ssl/certs/ca-certificates.crt"});

    static HttpTrust bundle(std::string file) { return {Source::bundleFile, std::move(file)}; }

    // Roots the environment names are all there is. Apple's libcurl (LibreSSL) otherwise also accepts a chain
    // the keychain trusts when they do not verify it, so with SSL_CERT_FILE or SSL_CERT_DIR set this puts
    // OPENSSL_X509_TEA_DISABLE=1 into the process environment (Apple's switch for that fallback; nothing
    // reads it elsewhere). Without them the system's roots and keychain count, as for every Mac program.
    // Called once, before libcurl starts and any other thread runs.
    static void prepareProcess();

    bool operator==(const HttpTrust&) const = default;
};
