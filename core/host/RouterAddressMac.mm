// macOS: the system's own NAT port-mapping client (mDNSResponder's NAT-PMP and PCP, and UPnP where the router
// speaks only that). Protocol, ports and lifetime 0 map nothing; the one answer names the router's external
// address, or says that a second NAT stands beyond it.
#include "host/RouterAddress.hpp"

#include "support/Descriptor.hpp"

#include <arpa/inet.h>
#include <dispatch/dispatch.h>
#include <dns_sd.h>

#include <memory>

namespace {

struct Question {
    RouterAnswer answer;
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    bool answered = false;

    ~Question() { dispatch_release(done); }
};

void DNSSD_API answered(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType error,
                        uint32_t externalAddress, DNSServiceProtocol, uint16_t, uint16_t, uint32_t,
                        void* context) {
    auto* question = static_cast<Question*>(context);
    if (question->answered) {
        return;
    }
    // With DoubleNAT the address is defined too: the router's own, private or shared, external address.
    const bool named = error == kDNSServiceErr_NoError || error == kDNSServiceErr_DoubleNAT;
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = externalAddress; // network byte order
    if (named && externalAddress != 0 && inet_ntop(AF_INET, &address, text, sizeof text) != nullptr) {
        question->answer = {RouterAnswer::Kind::address, text};
    } else if (error == kDNSServiceErr_DoubleNAT) {
        question->answer = {RouterAnswer::Kind::noPublicAddress, {}};
    } else if (error == kDNSServiceErr_NoError) {
        // Zero: no mapping from a gateway (yet); a later callback may still name one before the deadline.
        return;
    }
    question->answered = true;
    dispatch_semaphore_signal(question->done);
}

} // namespace

RouterAnswer RouterAddress::askGateway(unsigned index, std::chrono::steady_clock::time_point deadline) {
    dispatch_queue_t queue = dispatch_queue_create("korvane.router", DISPATCH_QUEUE_SERIAL);
    auto question = std::make_unique<Question>();
    DNSServiceRef service = nullptr;
    RouterAnswer answer;
    if (DNSServiceNATPortMappingCreate(&service, 0, index, 0, 0, 0, 0, &answered, question.get()) ==
        kDNSServiceErr_NoError) {
        if (DNSServiceSetDispatchQueue(service, queue) == kDNSServiceErr_NoError) {
            const std::chrono::nanoseconds left = millisecondsUntil(deadline);
            dispatch_semaphore_wait(question->done, dispatch_time(DISPATCH_TIME_NOW, left.count()));
        }
        // Deallocated on its queue, so that no callback runs after the question is gone.
        dispatch_sync(queue, ^{
          DNSServiceRefDeallocate(service);
        });
        answer = question->answer;
    }
    dispatch_release(queue);
    return answer;
}
