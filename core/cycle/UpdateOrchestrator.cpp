#include "cycle/UpdateOrchestrator.hpp"

#include "support/Unicode.hpp"

#include <utility>

namespace {

// An empty text is no address: it must never reach the cache or the request.
std::optional<std::string> presentAddress(std::optional<std::string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

std::string permanentRejectionMessage(DynDnsResponseCode code) {
    switch (code) {
    case DynDnsResponseCode::noHost:
        return "Hostname nicht gefunden oder nicht diesem Key zugeordnet.";
    case DynDnsResponseCode::badAuth:
        return "Authentifizierung fehlgeschlagen — API-Key prüfen.";
    case DynDnsResponseCode::notFqdn:
        return "Hostname ist kein gültiger FQDN.";
    case DynDnsResponseCode::abuse:
        return "Vom Server als Missbrauch abgewiesen (gesperrt oder unzulässige Ziel-IP).";
    case DynDnsResponseCode::badParam:
        return "Ungültige Parameter im Update-Request.";
    default:
        return "";
    }
}

// Only an accepted answer is recorded: after a rejection or failure the next cycle must send again.
UpdateCycleResult classifyAnswer(DynDnsResponse response, const AddressPair& sent, IpStateCache& cache,
                                 const ClientConfiguration& config, const ClientLog& log) {
    if (response.isSuccess()) {
        cache.record(sent);
        const bool good = response.code == DynDnsResponseCode::good;
        std::string text =
            "DynDNS " + std::string(good ? "aktualisiert" : "unverändert") + ": " + sent.text() + ".";
        log.info(text);
        return UpdateCycleResult(good ? UpdateCycleStatus::updated : UpdateCycleStatus::unchanged,
                                 std::move(text), std::move(response));
    }
    // The service's own words, but inert: an echo of the request must neither forge a log line nor show the
    // key.
    const std::string raw = config.shownServiceText(response.raw);
    if (response.isFatal()) {
        log.error("DynDNS-Update dauerhaft abgewiesen: " + raw + ".");
        std::string message = permanentRejectionMessage(response.code);
        return UpdateCycleResult(UpdateCycleStatus::fatalError, std::move(message), std::move(response));
    }
    // serverError and unknown: the service may answer properly next time.
    log.warn("DynDNS-Update vorübergehend fehlgeschlagen: " + raw + ".");
    std::string message =
        "Vorübergehender Serverfehler (" + raw + "). Erneuter Versuch im nächsten Intervall.";
    return UpdateCycleResult(UpdateCycleStatus::transientError, std::move(message), std::move(response));
}

} // namespace

UpdateCycleResult::UpdateCycleResult(UpdateCycleStatus status, std::string message,
                                     std::optional<DynDnsResponse> response)
    : status(status), message(std::move(message)), response(std::move(response)) {}

bool UpdateCycleResult::isHealthy() const {
    return status == UpdateCycleStatus::updated || status == UpdateCycleStatus::unchanged;
}

UpdateOrchestrator::UpdateOrchestrator(std::shared_ptr<PublicIpResolving> resolver,
                                       std::shared_ptr<DynDnsUpdating> updateClient,
                                       std::shared_ptr<IpStateCache> cache, ClientConfiguration config,
                                       ClientLog log)
    : resolver_(std::move(resolver)), updateClient_(std::move(updateClient)), cache_(std::move(cache)),
      config_(std::move(config)), log_(std::move(log)) {}

UpdateCycleResult UpdateOrchestrator::runOnce(bool force) {
    const bool repush = std::exchange(repushNext_, false);
    std::optional<std::string> ipv4;
    if (config_.enableIpv4) {
        ipv4 = presentAddress(resolver_->resolveIpv4());
        if (!ipv4) {
            log_.warn("IPv4 aktiviert, aber keine öffentliche Adresse ermittelbar.");
        }
    }
    std::optional<std::string> ipv6;
    if (config_.enableIpv6) {
        ipv6 = presentAddress(resolver_->resolveIpv6());
        if (!ipv6) {
            log_.warn("IPv6 aktiviert, aber keine öffentliche Adresse ermittelbar.");
        }
    }
    lastFound_ = {ipv4, ipv6};
    if (!ipv4 && !ipv6) {
        log_.warn("Keine öffentliche IP ermittelbar — Zyklus übersprungen.");
        return UpdateCycleResult(UpdateCycleStatus::noPublicIp, "Keine öffentliche IP-Adresse ermittelbar.",
                                 std::nullopt);
    }

    const std::string addresses = lastFound_.text();
    if (!force && !repush && !cache_->needsUpdate(lastFound_)) {
        log_.debug("IP unverändert (" + addresses + ") — kein Update nötig.");
        return UpdateCycleResult(UpdateCycleStatus::unchanged, "IP unverändert (" + addresses + ").",
                                 std::nullopt);
    }

    Expected<DynDnsResponse> response = updateClient_->send(ipv4, ipv6);
    if (!response) {
        // The transfer's error may quote what the service sent; the session has bounded it already.
        const std::string reason = config_.shownServiceText(
            response.failure().text, Unicode::longShownCharacters, Unicode::longShownBytes);
        log_.warn("Update-Request fehlgeschlagen (Netzwerkfehler?): " + reason);
        return UpdateCycleResult(UpdateCycleStatus::transientError, "Update fehlgeschlagen: " + reason,
                                 std::nullopt);
    }
    return classifyAnswer(std::move(*response), lastFound_, *cache_, config_, log_);
}
