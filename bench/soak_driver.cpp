// The soak driver: many cycles of the real orchestrator with the real HTTPS resolver and update client
// against the fake service, built once as the daemon builds them, with the process's memory sampled
// between cycles. bench/soak starts the fake, gives it the answer sequences and reads what this prints.
//
//   korvane-soak-driver --base URL --state FILE --cycles N [--samples 0,100,...] [--timeout-ms MS]
//
// The update endpoint is --base's and the trust comes from SSL_CERT_FILE, as for the client. Prints one JSON
// object per line: a sample at each cycle count named by --samples, then a summary with the outcome of every
// cycle.
#include "config/ClientConfiguration.hpp"
#include "cycle/HttpDynDnsUpdateClient.hpp"
#include "cycle/HttpPublicIpResolver.hpp"
#include "cycle/IpStateCache.hpp"
#include "cycle/UpdateOrchestrator.hpp"
#include "support/ClientLog.hpp"

#include <nlohmann/json.hpp>

#include <malloc.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string base;
    std::string stateFile;
    long cycles = 10000;
    std::set<long> samples{0, 1, 10, 100, 500, 1000, 2500, 5000, 7500};
    long timeoutMs = 1000;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "korvane-soak-driver: " << problem << "\n"
              << "usage: korvane-soak-driver --base URL --state FILE --cycles N [--samples 0,100,...] "
                 "[--timeout-ms MS]\n";
    std::exit(64);
}

std::set<long> parseList(const std::string& text) {
    std::set<long> values;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        values.insert(std::stol(item));
    }
    return values;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            usage("missing value for " + name);
        }
        std::string value = argv[++i];
        if (name == "--base") {
            options.base = value;
        } else if (name == "--state") {
            options.stateFile = value;
        } else if (name == "--cycles") {
            options.cycles = std::stol(value);
        } else if (name == "--samples") {
            options.samples = parseList(value);
        } else if (name == "--timeout-ms") {
            options.timeoutMs = std::stol(value);
        } else {
            usage("unknown option " + name);
        }
    }
    if (options.base.empty() || options.stateFile.empty() || options.cycles < 1) {
        usage("--base, --state and a positive --cycles are required");
    }
    options.samples.insert(options.cycles);
    return options;
}

// "Key:   1234 kB" from a /proc file; -1 when the key is missing.
long procField(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

// Resident size of the brk heap, where glibc's main arena lives.
long heapResidentKiB() {
    std::ifstream file("/proc/self/smaps");
    std::string line;
    bool inHeap = false;
    while (std::getline(file, line)) {
        bool header = !line.empty() && line.find(':') > line.find(' ');
        if (header) {
            inHeap = line.size() >= 6 && line.compare(line.size() - 6, 6, "[heap]") == 0;
        } else if (inHeap && line.rfind("Rss:", 0) == 0) {
            return std::strtol(line.c_str() + 4, nullptr, 10);
        }
    }
    return -1;
}

nlohmann::json memorySample(long cycle, std::chrono::steady_clock::time_point start) {
    nlohmann::json sample;
    sample["sample"] = cycle;
    sample["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample["vmRssKiB"] = procField("/proc/self/status", "VmRSS");
    sample["rssAnonKiB"] = procField("/proc/self/status", "RssAnon");
    sample["rssFileKiB"] = procField("/proc/self/status", "RssFile");
    sample["vmHwmKiB"] = procField("/proc/self/status", "VmHWM");
    sample["privateDirtyKiB"] = procField("/proc/self/smaps_rollup", "Private_Dirty");
    sample["anonymousKiB"] = procField("/proc/self/smaps_rollup", "Anonymous");
    sample["heapRssKiB"] = heapResidentKiB();
#if defined(__GLIBC__)
    // What the program holds in malloc, independent of how much the allocator keeps mapped.
    struct mallinfo2 heap = mallinfo2();
    sample["heapInUseBytes"] = heap.uordblks + heap.hblkhd;
    sample["heapArenaBytes"] = heap.arena + heap.hblkhd;
#endif
    return sample;
}

char statusLetter(UpdateCycleStatus status) {
    switch (status) {
    case UpdateCycleStatus::updated:
        return 'u';
    case UpdateCycleStatus::unchanged:
        return 'n';
    case UpdateCycleStatus::noPublicIp:
        return 'p';
    case UpdateCycleStatus::fatalError:
        return 'f';
    case UpdateCycleStatus::transientError:
        return 't';
    }
    return '?';
}

// Whether the cycle sent an update request (a failed transfer counts: the request went out).
bool sentUpdate(const UpdateCycleResult& result) {
    if (result.response) {
        return true;
    }
    return result.status == UpdateCycleStatus::transientError;
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);

    // Counting instead of printing keeps the log path exercised without 10,000 lines of output.
    auto levels = std::make_shared<std::array<long, 4>>();
    ClientLog log(
        [levels](ClientLog::Level level, const std::string&) { ++(*levels)[static_cast<int>(level)]; });

    ClientConfiguration config;
    config.hostname = "home.example.net";
    config.apiKey = "dyndns_testkey123456";
    config.updateIntervalMinutes = 1;
    config.enableIpv4 = true;
    config.enableIpv6 = false;
    config.ipv4DiscoveryUrls = {options.base + "/ip4"};
    config.ipv6DiscoveryUrls = {};
    // The base URL comes from the command line: a configuration the daemon would refuse is no soak of it.
    if (Expected<void> valid = config.validate(); !valid) {
        usage(valid.failure().text);
    }

    auto start = std::chrono::steady_clock::now();
    std::chrono::milliseconds timeout(options.timeoutMs);
    auto resolver = std::make_shared<HttpPublicIpResolver>(config, log, timeout, HttpTrust::fromEnvironment(),
                                                           RouteReading::system());
    auto updateClient = std::make_shared<HttpDynDnsUpdateClient>(config, log, options.base, timeout,
                                                                 timeout * 4, HttpTrust::fromEnvironment());
    auto cache = std::make_shared<IpStateCache>(std::filesystem::path(options.stateFile), config.hostname);
    UpdateOrchestrator orchestrator(resolver, updateClient, cache, config, log);

    std::string outcomes;
    outcomes.reserve(static_cast<std::size_t>(options.cycles));
    long updatesSent = 0;
    if (options.samples.count(0) != 0) {
        std::cout << memorySample(0, start).dump() << std::endl;
    }
    for (long cycle = 1; cycle <= options.cycles; ++cycle) {
        UpdateCycleResult result = orchestrator.runOnce(false);
        outcomes += statusLetter(result.status);
        if (sentUpdate(result)) {
            ++updatesSent;
        }
        if (options.samples.count(cycle) != 0) {
            std::cout << memorySample(cycle, start).dump() << std::endl;
        }
    }

    nlohmann::json summary;
    summary["summary"] = true;
    summary["cycles"] = options.cycles;
    summary["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    summary["outcomes"] = outcomes;
    summary["updatesSent"] = updatesSent;
    summary["logLines"] = {
        {"debug", (*levels)[0]}, {"info", (*levels)[1]}, {"warn", (*levels)[2]}, {"error", (*levels)[3]}};
    summary["lastIpv4"] = cache->last().ipv4.value_or("");
    std::cout << summary.dump() << std::endl;
    return 0;
}
