#include "support/HttpTrust.hpp"

#include "support/Environment.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

HttpTrust HttpTrust::select(const std::optional<std::string>& certFile,
                            const std::optional<std::string>& certDir, const std::string& systemDirectory,
                            const std::vector<std::string>& systemBundles) {
    if (certFile) {
        return {Source::bundleFile, *certFile};
    }
    if (certDir) {
        return {Source::directory, *certDir};
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
    return select(Environment::value("SSL_CERT_FILE"), Environment::value("SSL_CERT_DIR"), "/etc/ssl/certs");
}

void HttpTrust::prepareProcess() {
    if (Environment::value("SSL_CERT_FILE") || Environment::value("SSL_CERT_DIR")) {
        ::setenv("OPENSSL_X509_TEA_DISABLE", "1", 1);
    }
}
