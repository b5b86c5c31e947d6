#include "status/Reachability.hpp"

#include "support/JsonStrict.hpp"

#include <array>

namespace ReachabilityText {

std::string_view name(Reachability verdict) {
    switch (verdict) {
    case Reachability::direct:
        return "direct";
    case Reachability::forwardable:
        return "forwardable";
    case Reachability::carrierNat:
        return "carrierNat";
    case Reachability::dsLite:
        return "dsLite";
    case Reachability::secondRouter:
        return "secondRouter";
    case Reachability::unknown:
        break;
    }
    return "unknown";
}

std::optional<Reachability> fromName(std::string_view text) {
    return JsonStrict::oneOf(std::array{Reachability::direct, Reachability::forwardable,
                                        Reachability::carrierNat, Reachability::dsLite,
                                        Reachability::secondRouter, Reachability::unknown},
                             name, text);
}

bool unreachable(Reachability verdict) {
    return verdict == Reachability::carrierNat || verdict == Reachability::dsLite ||
           verdict == Reachability::secondRouter;
}

std::string line(Reachability verdict) {
    switch (verdict) {
    case Reachability::direct:
        return "IPv4 von außen: direkt erreichbar";
    case Reachability::forwardable:
        return "IPv4 von außen: erreichbar für Ports, die der Router weiterleitet";
    case Reachability::carrierNat:
        return "IPv4 von außen nicht erreichbar: Carrier-NAT des Anbieters";
    case Reachability::dsLite:
        return "IPv4 von außen nicht erreichbar: DS-Lite, keine eigene IPv4-Adresse";
    case Reachability::secondRouter:
        return "IPv4 von außen nicht erreichbar: ein zweiter Router davor";
    case Reachability::unknown:
        break;
    }
    return "";
}

} // namespace ReachabilityText
