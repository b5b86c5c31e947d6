#include "cycle/IpStateCache.hpp"

#include "support/AtomicFile.hpp"
#include "support/FileRead.hpp"
#include "support/JsonStrict.hpp"
#include "support/Unicode.hpp"

#include <nlohmann/json.hpp>
#include <utility>

namespace {

// The addresses are no secret, and the status command reads them as any user.
constexpr mode_t stateFileMode = 0644;

bool differs(const std::optional<std::string>& given, const std::optional<std::string>& recorded) {
    if (!given) {
        return false;
    }
    if (!recorded) {
        return true;
    }
    return Unicode::asciiLower(*given) != Unicode::asciiLower(*recorded);
}

} // namespace

IpStateCache::IpStateCache(std::optional<std::filesystem::path> path, std::optional<std::string> hostname)
    : path_(std::move(path)), hostname_(std::move(hostname)) {
    if (!path_) {
        return;
    }
    // A missing or damaged file only means that nothing was pushed yet: the next cycle pushes.
    try {
        Expected<std::string> bytes = FileRead::readAll(*path_);
        if (!bytes) {
            return;
        }
        nlohmann::json object = JsonStrict::parseObject(*bytes);
        if (hostname_ && JsonStrict::optionalString(object, "hostname") != hostname_) {
            return;
        }
        AddressPair loaded;
        loaded.ipv4 = JsonStrict::optionalString(object, "ipv4");
        loaded.ipv6 = JsonStrict::optionalString(object, "ipv6");
        state_ = std::move(loaded);
    } catch (const std::exception&) {
        state_ = AddressPair{};
    }
}

bool IpStateCache::needsUpdate(const AddressPair& found) const {
    return differs(found.ipv4, state_.ipv4) || differs(found.ipv6, state_.ipv6);
}

void IpStateCache::record(const AddressPair& pushed) {
    // Recording one family must never erase what the other family last pushed.
    if (pushed.ipv4) {
        state_.ipv4 = pushed.ipv4;
    }
    if (pushed.ipv6) {
        state_.ipv6 = pushed.ipv6;
    }
    persist();
}

void IpStateCache::persist() const {
    if (!path_) {
        return;
    }
    // A failure keeps the new state in memory, only a later process would not know it.
    const auto encode = [this] {
        nlohmann::json object = nlohmann::json::object();
        if (hostname_) {
            object["hostname"] = *hostname_;
        }
        if (state_.ipv4) {
            object["ipv4"] = *state_.ipv4;
        }
        if (state_.ipv6) {
            object["ipv6"] = *state_.ipv6;
        }
        return JsonStrict::writeCompact(object);
    };
    AtomicFile::writeBestEffort(*path_, encode, stateFileMode);
}
