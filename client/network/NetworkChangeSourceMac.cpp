// macOS: configd's dynamic store. The global IPv4/IPv6 entities change with the primary interface and its
// router, the per-interface ones with every address; configd also republishes them unchanged, after a wake
// or a lease renewal. So a notification only means the network may have changed; the comparison of
// snapshots decides. The callback runs on a private dispatch queue and only writes a byte into a pipe that
// waitForChange polls.
#include "network/NetworkChangeSource.hpp"

#include "support/Descriptor.hpp"

#include <SystemConfiguration/SystemConfiguration.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dispatch/dispatch.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

class DynamicStoreSource final : public NetworkChangeSource {
public:
    DynamicStoreSource(int readEnd, int writeEnd) : readEnd_(readEnd), writeEnd_(writeEnd) {}
    ~DynamicStoreSource() override {
        if (store_ != nullptr) {
            SCDynamicStoreSetDispatchQueue(store_, nullptr);
            CFRelease(store_);
        }
        if (queue_ != nullptr) {
            // A callback already queued must not write into a closed pipe.
            dispatch_sync_f(queue_, nullptr, [](void*) {});
            dispatch_release(queue_);
        }
        // The pipe's ends close after this, as the members go.
    }
    DynamicStoreSource(const DynamicStoreSource&) = delete;
    DynamicStoreSource& operator=(const DynamicStoreSource&) = delete;

    // Empty when the notifications are running, else why not.
    std::string start() {
        SCDynamicStoreContext context{0, this, nullptr, nullptr, nullptr};
        store_ = SCDynamicStoreCreate(nullptr, CFSTR("korvane-client"), changed, &context);
        if (store_ == nullptr) {
            return SCErrorString(SCError());
        }
        CFStringRef keys[] = {
            SCDynamicStoreKeyCreateNetworkGlobalEntity(nullptr, kSCDynamicStoreDomainState, kSCEntNetIPv4),
            SCDynamicStoreKeyCreateNetworkGlobalEntity(nullptr, kSCDynamicStoreDomainState, kSCEntNetIPv6)};
        CFStringRef patterns[] = {SCDynamicStoreKeyCreateNetworkInterfaceEntity(
                                      nullptr, kSCDynamicStoreDomainState, kSCCompAnyRegex, kSCEntNetIPv4),
                                  SCDynamicStoreKeyCreateNetworkInterfaceEntity(
                                      nullptr, kSCDynamicStoreDomainState, kSCCompAnyRegex, kSCEntNetIPv6)};
        CFArrayRef keyArray =
            CFArrayCreate(nullptr, reinterpret_cast<const void**>(keys), 2, &kCFTypeArrayCallBacks);
        CFArrayRef patternArray =
            CFArrayCreate(nullptr, reinterpret_cast<const void**>(patterns), 2, &kCFTypeArrayCallBacks);
        bool watching = SCDynamicStoreSetNotificationKeys(store_, keyArray, patternArray);
        for (CFTypeRef created : {CFTypeRef(keyArray), CFTypeRef(patternArray), CFTypeRef(keys[0]),
                                  CFTypeRef(keys[1]), CFTypeRef(patterns[0]), CFTypeRef(patterns[1])}) {
            CFRelease(created);
        }
        if (!watching) {
            return SCErrorString(SCError());
        }
        queue_ = dispatch_queue_create("com.korvane.client.network", DISPATCH_QUEUE_SERIAL);
        if (!SCDynamicStoreSetDispatchQueue(store_, queue_)) {
            return SCErrorString(SCError());
        }
        return {};
    }

    bool waitForChange(std::chrono::milliseconds timeout) override {
        pollfd ready{readEnd_.get(), POLLIN, 0};
        auto waitMs = static_cast<int>(std::clamp<std::int64_t>(timeout.count(), 0, 60'000));
        if (poll(&ready, 1, waitMs) <= 0) {
            return false;
        }
        char drained[64];
        while (read(readEnd_.get(), drained, sizeof drained) > 0) {
        }
        return true;
    }

private:
    static void changed(SCDynamicStoreRef, CFArrayRef, void* info) {
        // A full pipe already holds a wake-up; the byte is not needed then.
        char one = 1;
        [[maybe_unused]] ssize_t written =
            write(static_cast<DynamicStoreSource*>(info)->writeEnd_.get(), &one, 1);
    }

    Descriptor readEnd_;
    Descriptor writeEnd_;
    SCDynamicStoreRef store_ = nullptr;
    dispatch_queue_t queue_ = nullptr;
};

bool makeNonBlockingPipe(int ends[2]) {
    if (pipe(ends) != 0) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        fcntl(ends[i], F_SETFD, FD_CLOEXEC);
        fcntl(ends[i], F_SETFL, fcntl(ends[i], F_GETFL) | O_NONBLOCK);
    }
    return true;
}

} // namespace

PlatformNetworkChangeSource openPlatformNetworkChangeSource() {
    int ends[2];
    if (!makeNonBlockingPipe(ends)) {
        return {nullptr, std::strerror(errno)};
    }
    auto source = std::make_unique<DynamicStoreSource>(ends[0], ends[1]);
    std::string failure = source->start();
    if (!failure.empty()) {
        return {nullptr, failure};
    }
    return {std::move(source), {}};
}
