// Systems without a notification the daemon knows: the portable comparison takes over.
#include "network/NetworkChangeSource.hpp"

PlatformNetworkChangeSource openPlatformNetworkChangeSource() {
    return {nullptr, "keine Benachrichtigung auf diesem System"};
}
