#include "status/StatusFile.hpp"

#include "support/Rfc3339.hpp"

#include <array>
#include <nlohmann/json.hpp>
#include <utility>

namespace {

using JsonStrict::requiredString;

std::chrono::system_clock::time_point parseTime(const std::string& text, const char* key) {
    std::optional<std::chrono::system_clock::time_point> time = Rfc3339::parse(text);
    if (!time) {
        throw JsonStrict::DecodeError(std::string("key \"") + key + "\" is not an internet date-time");
    }
    return *time;
}

void putOptional(nlohmann::json& object, const char* key, const std::optional<std::string>& value) {
    if (value) {
        object[key] = *value;
    }
}

} // namespace

std::string_view DaemonStatus::text(State state) {
    switch (state) {
    case State::ok:
        return "ok";
    case State::warning:
        return "warning";
    case State::error:
        return "error";
    case State::idle:
        return "idle";
    }
    return "error";
}

std::optional<DaemonStatus::State> DaemonStatus::stateFromText(std::string_view text) {
    return JsonStrict::oneOf(std::array{State::ok, State::warning, State::error, State::idle},
                             DaemonStatus::text, text);
}

std::string StatusFile::encode(const DaemonStatus& status) {
    // nlohmann's object is an ordered std::map, which gives the sorted keys readers rely on.
    nlohmann::json object = nlohmann::json::object();
    object["daemonVersion"] = status.daemonVersion;
    putOptional(object, "hostname", status.hostname);
    putOptional(object, "lastIpv4", status.lastIpv4);
    putOptional(object, "lastIpv6", status.lastIpv6);
    if (status.lastSuccessAt) {
        object["lastSuccessAt"] = Rfc3339::format(*status.lastSuccessAt);
    }
    object["message"] = status.message;
    if (status.reachability && *status.reachability != Reachability::unknown) {
        object["reachability"] = std::string(ReachabilityText::name(*status.reachability));
    }
    putOptional(object, "routerIpv4", status.routerIpv4);
    object["state"] = std::string(DaemonStatus::text(status.state));
    object["updatedAt"] = Rfc3339::format(status.updatedAt);
    return JsonStrict::writePretty(object);
}

std::optional<DaemonStatus> StatusFile::fromObject(const nlohmann::json& object) {
    std::optional<DaemonStatus::State> state = DaemonStatus::stateFromText(requiredString(object, "state"));
    if (!state) {
        return std::nullopt;
    }
    DaemonStatus status{*state,
                        requiredString(object, "message"),
                        JsonStrict::optionalString(object, "hostname"),
                        JsonStrict::optionalString(object, "lastIpv4"),
                        JsonStrict::optionalString(object, "lastIpv6"),
                        std::nullopt,
                        parseTime(requiredString(object, "updatedAt"), "updatedAt"),
                        requiredString(object, "daemonVersion")};
    if (std::optional<std::string> lastSuccess = JsonStrict::optionalString(object, "lastSuccessAt")) {
        status.lastSuccessAt = parseTime(*lastSuccess, "lastSuccessAt");
    }
    // A verdict this reader does not know is no verdict, not a damaged file; nor is "unknown".
    if (std::optional<std::string> verdict = JsonStrict::optionalString(object, "reachability")) {
        if (std::optional<Reachability> known = ReachabilityText::fromName(*verdict);
            known != Reachability::unknown) {
            status.reachability = known;
        }
    }
    status.routerIpv4 = JsonStrict::optionalString(object, "routerIpv4");
    return status;
}
