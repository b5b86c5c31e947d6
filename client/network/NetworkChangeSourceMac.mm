// macOS: configd's dynamic store. The global IPv4/IPv6 entities change with the primary interface and its
// router, the per-interface ones with every address; configd also republishes them unchanged, after a wake
// or a lease renewal. So a notification only means the network may have changed; the comparison of
// snapshots decides. The deadline is a dispatch timer on the wall clock; the system's wake from sleep and
// the clock being set (notifyd's clock_set) end a wait too, so that a deadline passed in a sleep comes at
// once and a clock set back is seen at once. The callbacks run on one private dispatch queue and only write
// a byte into a pipe that waitForChange polls: 'n' for the network, 't' for the time.
#include "network/NetworkChangeSource.hpp"

#include "support/Descriptor.hpp"

#include <IOKit/IOMessage.h>
#include <IOKit/pwr_mgt/IOPMLib.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dispatch/dispatch.h>
#include <fcntl.h>
#include <notify.h>
#include <notify_keys.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr char networkByte = 'n';
constexpr char timeByte = 't';

void makeNonBlocking(int descriptor) {
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
}

class DynamicStoreSource final : public NetworkChangeSource {
public:
    DynamicStoreSource(int readEnd, int writeEnd) : readEnd_(readEnd), writeEnd_(writeEnd) {}
    ~DynamicStoreSource() override {
        if (store_ != nullptr) {
            SCDynamicStoreSetDispatchQueue(store_, nullptr);
            CFRelease(store_);
        }
        if (timer_ != nullptr) {
            dispatch_source_cancel(timer_);
            dispatch_release(timer_);
        }
        if (powerConnection_ != MACH_PORT_NULL) {
            IODeregisterForSystemPower(&powerNotifier_);
            IOServiceClose(powerConnection_);
            IONotificationPortDestroy(powerPort_);
        }
        if (clockToken_ != -1) {
            notify_cancel(clockToken_); // closes its descriptor
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

    // Starts the notifications and the timer.
    Expected<void> start() {
        queue_ = dispatch_queue_create("com.korvane.client.network", DISPATCH_QUEUE_SERIAL);
        if (Expected<void> watching = watchStore(); !watching) {
            return watching;
        }
        timer_ = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue_);
        if (timer_ == nullptr) {
            return Failure{"dispatch_source_create"};
        }
        dispatch_set_context(timer_, this);
        dispatch_source_set_event_handler_f(
            timer_, [](void* self) { static_cast<DynamicStoreSource*>(self)->post(timeByte); });
        dispatch_source_set_timer(timer_, DISPATCH_TIME_FOREVER, DISPATCH_TIME_FOREVER, 0);
        dispatch_resume(timer_);
        // Without these the timer still fires, only perhaps later after a wake or a clock set back.
        powerConnection_ = IORegisterForSystemPower(this, &powerPort_, powerChanged, &powerNotifier_);
        if (powerConnection_ != MACH_PORT_NULL) {
            IONotificationPortSetDispatchQueue(powerPort_, queue_);
        }
        if (notify_register_file_descriptor(kNotifyClockSet, &clockFd_, 0, &clockToken_) ==
            NOTIFY_STATUS_OK) {
            makeNonBlocking(clockFd_);
        } else {
            clockToken_ = clockFd_ = -1;
        }
        return {};
    }

    bool waitForChange(TimePoint deadline, std::optional<std::chrono::milliseconds> timeout) override {
        const timespec at = wallTimespec(deadline);
        dispatch_source_set_timer(timer_, dispatch_walltime(&at, 0), DISPATCH_TIME_FOREVER, leeway);
        pollfd ready[2] = {{readEnd_.get(), POLLIN, 0}, {clockFd_, POLLIN, 0}};
        if (poll(ready, clockFd_ >= 0 ? 2 : 1, pollMilliseconds(timeout)) <= 0) {
            return false;
        }
        char drained[64];
        while (clockFd_ >= 0 && read(clockFd_, drained, sizeof drained) > 0) {
        }
        bool changed = false;
        for (ssize_t got; (got = read(readEnd_.get(), drained, sizeof drained)) > 0;) {
            changed = changed || std::find(drained, drained + got, networkByte) != drained + got;
        }
        return changed;
    }

private:
    // A little slack lets the system fold the wake-up into others; the pause looks at the clock anyway.
    static constexpr std::uint64_t leeway = NSEC_PER_SEC;

    Expected<void> watchStore() {
        SCDynamicStoreContext context{0, this, nullptr, nullptr, nullptr};
        store_ = SCDynamicStoreCreate(nullptr, CFSTR("korvane-client"), changed, &context);
        if (store_ == nullptr) {
            return Failure{SCErrorString(SCError())};
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
        if (!watching || !SCDynamicStoreSetDispatchQueue(store_, queue_)) {
            return Failure{SCErrorString(SCError())};
        }
        return {};
    }

    void post(char byte) {
        // A full pipe already holds a wake-up; the byte is not needed then.
        [[maybe_unused]] ssize_t written = write(writeEnd_.get(), &byte, 1);
    }

    static void changed(SCDynamicStoreRef, CFArrayRef, void* info) {
        static_cast<DynamicStoreSource*>(info)->post(networkByte);
    }

    // Sleep must be allowed at once (a registered client that does not answer delays it by 30 s); the wake
    // ends the wait.
    static void powerChanged(void* info, io_service_t, natural_t message, void* argument) {
        auto* self = static_cast<DynamicStoreSource*>(info);
        if (message == kIOMessageCanSystemSleep || message == kIOMessageSystemWillSleep) {
            IOAllowPowerChange(self->powerConnection_, reinterpret_cast<long>(argument));
        } else if (message == kIOMessageSystemHasPoweredOn) {
            self->post(timeByte);
        }
    }

    Descriptor readEnd_;
    Descriptor writeEnd_;
    SCDynamicStoreRef store_ = nullptr;
    dispatch_queue_t queue_ = nullptr;
    dispatch_source_t timer_ = nullptr;
    io_connect_t powerConnection_ = MACH_PORT_NULL;
    IONotificationPortRef powerPort_ = nullptr;
    io_object_t powerNotifier_ = 0;
    int clockFd_ = -1;
    int clockToken_ = -1;
};

} // namespace

Expected<std::unique_ptr<NetworkChangeSource>> openPlatformNetworkChangeSource() {
    int ends[2];
    if (pipe(ends) != 0) {
        return Failure{std::strerror(errno), errno};
    }
    makeNonBlocking(ends[0]);
    makeNonBlocking(ends[1]);
    auto source = std::make_unique<DynamicStoreSource>(ends[0], ends[1]);
    if (Expected<void> started = source->start(); !started) {
        return started.failure();
    }
    return std::unique_ptr<NetworkChangeSource>(std::move(source));
}
