#include "dnscheck/DnsConfirmation.hpp"

#include "support/Unicode.hpp"

namespace {

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

// A server's name came from the network: inert before it reaches the log.
std::string serversOf(const DnsObservation& seen) {
    std::vector<std::string> shown;
    for (const DnsServer& server : seen.servers) {
        shown.push_back(Unicode::shownPeerText(server.name) + " (" + server.address + ")");
    }
    return joined(shown, ", ");
}

std::string servedOf(const DnsObservation& seen) {
    return seen.served.empty() ? "keine Adresse" : joined(seen.served, " / ");
}

} // namespace

DnsConfirmation::DnsConfirmation(std::string hostname, std::shared_ptr<HostConfirming> confirmer,
                                 DnsCheckFile file, ClientLog log, const Clock& clock)
    : hostname_(std::move(hostname)), confirmer_(std::move(confirmer)), file_(std::move(file)),
      log_(std::move(log)), clock_(clock) {}

void DnsConfirmation::afterCycle(bool pushed, const AddressPair& published) {
    published_ = published;
    DnsObservation seen = confirmer_->observe(published_);
    publish(rule_.afterCycle(pushed, seen, clock_.now()), seen);
}

void DnsConfirmation::retry() {
    DnsObservation seen = confirmer_->observe(published_);
    publish(rule_.afterRetry(seen), seen);
}

bool DnsConfirmation::takeRepair() {
    if (!rule_.takeRepair(clock_.now())) {
        return false;
    }
    log_.info("DNS-Eintrag anderweitig geändert — Adressen werden erneut gesendet.");
    return true;
}

void DnsConfirmation::publish(DnsOutcome outcome, const DnsObservation& seen) {
    file_.write(DnsCheck{hostname_, outcome, seen.served, seen.servers, clock_.now()});
    if (logged_ == outcome) {
        return;
    }
    logged_ = outcome;
    switch (outcome) {
    case DnsOutcome::confirmed:
        log_.info("DNS bestätigt: " + published_.text() + " bei " + serversOf(seen) + ".");
        break;
    case DnsOutcome::pending:
        log_.info("DNS noch nicht aktuell: Nameserver liefern " + servedOf(seen) +
                  " — erneute Prüfung folgt.");
        break;
    case DnsOutcome::mismatch:
        log_.warn("DNS abweichend: Nameserver liefern " + servedOf(seen) + " statt " + published_.text() +
                  " (" + serversOf(seen) + ").");
        break;
    case DnsOutcome::unknown:
        log_.info(seen.servers.empty() ? "DNS nicht prüfbar: keine zuständigen Nameserver gefunden."
                                       : "DNS nicht prüfbar: keine Antwort von " + serversOf(seen) + ".");
        break;
    }
}
