// Systems without a notification the daemon knows: the portable comparison takes over.
#include "network/NetworkChangeSource.hpp"

Expected<std::unique_ptr<NetworkChangeSource>> openPlatformNetworkChangeSource() {
    return Failure{"keine Benachrichtigung auf diesem System"};
}
