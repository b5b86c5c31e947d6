"""`korvane-client once`: one update cycle against the fake service over real HTTPS on loopback."""
import base64
import json
import os
import re
import socket
import subprocess

import pytest

from fakeservice import FakeService

HOST, KEY = "home.example.net", "dyndns_testkey123456"
CREDENTIAL = base64.b64encode(f"{HOST}:{KEY}".encode()).decode()
LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[(DEBUG|INFO|WARN|ERROR)\] (.*)$")
OWN_VARIABLES = ("KORVANE_CONFIG_DIR", "KORVANE_SERVER_BASE_URL", "KORVANE_UPDATE_MANIFEST_URL",
                 "SSL_CERT_FILE", "SSL_CERT_DIR")


def client():
    return os.environ["KORVANE_CLIENT"]


def unused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_once(config_dir, fake, *args, ca_file=None, base_url=None):
    """Runs the client; checks that neither the key nor the credential shows up anywhere."""
    env = {k: v for k, v in os.environ.items() if k not in OWN_VARIABLES}
    env.update(KORVANE_CONFIG_DIR=str(config_dir), SSL_CERT_FILE=ca_file or fake.ca_file,
               KORVANE_SERVER_BASE_URL=base_url or fake.base_url)
    done = subprocess.run([client(), "once", *args], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    out, err = done.stdout.decode(), done.stderr.decode()
    for secret in (KEY, CREDENTIAL):
        assert secret not in out + err
    return done.returncode, out, err


def log_lines(out):
    """(level, message) of every log line, in order."""
    return [m.groups() for m in map(LOG_LINE.match, out.splitlines()) if m]


def last_line(out):
    return out.splitlines()[-1] if out else ""


def write_config(config_dir, fake, **changes):
    config = {
        "hostname": HOST, "apiKey": KEY, "updateIntervalMinutes": 5, "enableIpv4": True, "enableIpv6": False,
        "ipv4DiscoveryUrls": [fake.url("/ip4"), fake.url("/ip4b")],
        "ipv6DiscoveryUrls": [fake.url("/ip6"), fake.url("/ip6b")],
    }
    config.update(changes)
    path = config_dir / "config.json"
    path.write_text(json.dumps(config))
    path.chmod(0o600)
    return path


def ip_state(config_dir):
    path = config_dir / "ipstate.json"
    return json.loads(path.read_text()) if path.exists() else None


def test_first_push_sends_one_authenticated_request_and_records_the_addresses(fake_service, config_dir):
    write_config(config_dir, fake_service, enableIpv6=True)
    code, out, err = run_once(config_dir, fake_service)
    assert (code, err) == (0, "")
    assert log_lines(out) == [("INFO", "DynDNS aktualisiert: 203.0.113.7 / 2001:db8::7.")]
    assert last_line(out) == "DynDNS aktualisiert: 203.0.113.7 / 2001:db8::7."
    assert ip_state(config_dir) == {"ipv4": "203.0.113.7", "ipv6": "2001:db8::7"}

    [request] = fake_service.requests("/nic/update")
    assert request["query"] == "hostname=home.example.net&myip=203.0.113.7&myipv6=2001:db8::7"
    headers = {name.lower(): value for name, value in request["headers"]}
    assert headers["authorization"] == "Basic " + CREDENTIAL
    assert headers["user-agent"] == "RuzEdaRoredo-macOS/0.24.0"
    assert [r["path"] for r in fake_service.requests()] == ["/ip4", "/ip6", "/nic/update"]
    assert not (config_dir / "status.json").exists()


def test_unchanged_addresses_send_nothing(fake_service, config_dir):
    write_config(config_dir, fake_service)
    assert run_once(config_dir, fake_service)[0] == 0
    fake_service.clear_requests()

    code, out, err = run_once(config_dir, fake_service)
    assert (code, out, err) == (0, "IP unverändert (203.0.113.7).\n", "")
    assert fake_service.requests("/nic/update") == []
    assert not (config_dir / "status.json").exists()


@pytest.mark.parametrize("args", [["--force"], ["--force", "--force"]])
def test_force_sends_again_and_nochg_is_healthy(fake_service, config_dir, args):
    write_config(config_dir, fake_service)
    assert run_once(config_dir, fake_service)[0] == 0
    before = (config_dir / "ipstate.json").read_bytes()

    code, out, err = run_once(config_dir, fake_service, *args)
    assert (code, err) == (0, "")
    assert log_lines(out) == [("INFO", "DynDNS unverändert: 203.0.113.7.")]
    assert last_line(out) == "DynDNS unverändert: 203.0.113.7."
    assert len(fake_service.requests("/nic/update")) == 2
    assert (config_dir / "ipstate.json").read_bytes() == before


@pytest.mark.parametrize("word, message", [
    ("nohost", "Hostname nicht gefunden oder nicht diesem Key zugeordnet."),
    ("badauth", "Authentifizierung fehlgeschlagen — API-Key prüfen."),
    ("notfqdn", "Hostname ist kein gültiger FQDN."),
    ("abuse", "Vom Server als Missbrauch abgewiesen (gesperrt oder unzulässige Ziel-IP)."),
    ("badparam", "Ungültige Parameter im Update-Request."),
])
def test_a_permanent_rejection_fails_and_leaves_the_cache(fake_service, config_dir, word, message):
    write_config(config_dir, fake_service)
    (config_dir / "ipstate.json").write_text('{"ipv4":"192.0.2.99"}')
    fake_service.control(update={"body": word})
    code, out, err = run_once(config_dir, fake_service)
    assert (code, err) == (1, "")
    assert log_lines(out) == [("ERROR", f"DynDNS-Update dauerhaft abgewiesen: {word}.")]
    assert out.splitlines()[1:] == [message]
    assert (config_dir / "ipstate.json").read_text() == '{"ipv4":"192.0.2.99"}'


@pytest.mark.parametrize("answer", [{"body": "911", "status": 500}, {"body": "wibble 192.0.2.1"}])
def test_a_transient_answer_fails_without_recording(fake_service, config_dir, answer):
    write_config(config_dir, fake_service)
    fake_service.control(update=answer)
    code, out, err = run_once(config_dir, fake_service)
    raw = answer["body"]
    assert (code, err) == (1, "")
    assert log_lines(out) == [("WARN", f"DynDNS-Update vorübergehend fehlgeschlagen: {raw}.")]
    assert last_line(out) == f"Vorübergehender Serverfehler ({raw}). Erneuter Versuch im nächsten Intervall."
    assert ip_state(config_dir) is None


def test_an_empty_401_falls_back_to_the_status(fake_service, config_dir):
    write_config(config_dir, fake_service)
    fake_service.control(update={"body": "", "status": 401})
    code, out, err = run_once(config_dir, fake_service)
    assert (code, err) == (1, "")
    assert log_lines(out) == [
        ("WARN", "Leerer Body bei HTTP 401 von home.example.net — Status-Code als Fallback."),
        ("ERROR", "DynDNS-Update dauerhaft abgewiesen: ."),
    ]
    assert last_line(out) == "Authentifizierung fehlgeschlagen — API-Key prüfen."


def test_a_500_with_the_body_good_is_a_success(fake_service, config_dir):
    write_config(config_dir, fake_service)
    fake_service.control(update={"status": 500})
    code, out, _ = run_once(config_dir, fake_service)
    assert code == 0
    assert last_line(out) == "DynDNS aktualisiert: 203.0.113.7."
    assert ip_state(config_dir) == {"ipv4": "203.0.113.7"}


def test_discovery_falls_back_past_a_dead_endpoint(fake_service, config_dir):
    dead = f"https://127.0.0.1:{unused_port()}/ip4"
    write_config(config_dir, fake_service, ipv4DiscoveryUrls=[dead, fake_service.url("/ip4b")])
    fake_service.control(ip4b="198.51.100.4\n")
    code, out, _ = run_once(config_dir, fake_service)
    assert code == 0
    lines = log_lines(out)
    assert lines[0][0] == "WARN" and lines[0][1].startswith(f"IP-Discovery {dead} fehlgeschlagen: ")
    assert lines[1:] == [("INFO", "DynDNS aktualisiert: 198.51.100.4.")]
    [request] = fake_service.requests("/nic/update")
    assert request["params"][1] == ["myip", "198.51.100.4"]


def test_an_ipv6_answer_on_the_ipv4_list_is_skipped(fake_service, config_dir):
    write_config(config_dir, fake_service)
    fake_service.control(ip4="2001:db8::7\n", ip4b="198.51.100.4\n")
    code, out, _ = run_once(config_dir, fake_service)
    assert code == 0
    assert log_lines(out)[0] == (
        "WARN", f"IP-Discovery {fake_service.url('/ip4')} lieferte keine gültige IPv4-Adresse: 2001:db8::7")
    assert last_line(out) == "DynDNS aktualisiert: 198.51.100.4."


def test_both_families_failing_skip_the_cycle(fake_service, config_dir):
    write_config(config_dir, fake_service, enableIpv6=True)
    fake_service.control(ip4="x\n", ip4b="", ip6={"status": 503, "body": "<html>busy</html>"}, ip6b="192.0.2.1")
    code, out, err = run_once(config_dir, fake_service)
    assert (code, err) == (1, "")
    lines = log_lines(out)
    assert all(level == "WARN" for level, _ in lines)
    assert [message for _, message in lines if not message.startswith("IP-Discovery ")] == [
        "IPv4 aktiviert, aber keine öffentliche Adresse ermittelbar.",
        "IPv6 aktiviert, aber keine öffentliche Adresse ermittelbar.",
        "Keine öffentliche IP ermittelbar — Zyklus übersprungen.",
    ]
    assert len(lines) == 7
    assert last_line(out) == "Keine öffentliche IP-Adresse ermittelbar."
    assert fake_service.requests("/nic/update") == []


def test_an_untrusted_update_server_gets_no_request(fake_service, config_dir, tmp_path):
    # Discovery trusts the shared fake; the update service shows a certificate from another CA.
    write_config(config_dir, fake_service)
    with FakeService(tmp_path / "other-ca") as other:
        code, out, err = run_once(config_dir, fake_service, base_url=other.base_url)
        assert other.requests("/nic/update") == []
    assert (code, err) == (1, "")
    [(level, message)] = log_lines(out)
    assert level == "WARN" and message.startswith("Update-Request fehlgeschlagen (Netzwerkfehler?): ")
    assert "certificate" in message
    assert last_line(out).startswith("Update fehlgeschlagen: ")
    assert ip_state(config_dir) is None


def test_an_oversized_answer_is_a_transfer_failure(fake_service, config_dir):
    write_config(config_dir, fake_service)
    fake_service.control(update={"body": "good 203.0.113.7 ", "oversize": 1048576})
    code, out, _ = run_once(config_dir, fake_service)
    assert code == 1
    assert last_line(out) == "Update fehlgeschlagen: Response body exceeds the limit of 65536 bytes"
    assert ip_state(config_dir) is None


@pytest.mark.parametrize("args", [["--verbose"], ["--force", "--verbose"], ["--verbose", "--force"]])
def test_an_unknown_option_is_a_usage_error_before_anything_else(fake_service, config_dir, args):
    write_config(config_dir, fake_service)
    code, out, err = run_once(config_dir, fake_service, *args)
    assert (code, out, err) == (64, "", "Unbekannte Option: --verbose\n")
    assert fake_service.requests() == []


def test_a_missing_configuration_names_its_path(fake_service, config_dir):
    code, out, err = run_once(config_dir, fake_service)
    path = config_dir / "config.json"
    assert (code, out) == (1, "")
    assert err == f"Keine Konfiguration gefunden ({path}) — 'sudo korvane-client configure'.\n"
    assert fake_service.requests() == []


@pytest.mark.parametrize("content", ["", "{", "[]", '{"hostname": 5}'])
def test_an_undecodable_configuration_is_unusable(fake_service, config_dir, content):
    path = config_dir / "config.json"
    path.write_text(content)
    code, out, err = run_once(config_dir, fake_service)
    assert (code, out) == (1, "")
    assert err == f"Konfiguration unbrauchbar: Konfigurationsdatei ist leer oder ungültig: {path}\n"
    assert fake_service.requests() == []


def test_an_unreadable_configuration_shows_the_read_error(fake_service, config_dir):
    (config_dir / "config.json").mkdir()
    code, out, err = run_once(config_dir, fake_service)
    assert (code, out) == (1, "")
    assert err.startswith(f"Konfiguration unbrauchbar: {config_dir / 'config.json'}: ")
    assert fake_service.requests() == []


@pytest.mark.parametrize("changes, error", [
    ({"apiKey": "hunter2"},
     "API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server abgelehnt."),
    ({"hostname": "  "}, "Hostname fehlt."),
    ({"updateIntervalMinutes": 0}, "Update-Intervall muss mindestens 1 Minute(n) betragen."),
    ({"enableIpv4": False}, "Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein."),
])
def test_an_invalid_configuration_is_unusable(fake_service, config_dir, changes, error):
    write_config(config_dir, fake_service, **changes)
    code, out, err = run_once(config_dir, fake_service)
    assert (code, out, err) == (1, "", f"Konfiguration unbrauchbar: {error}\n")
    assert fake_service.requests() == []


def test_once_never_writes_the_status_file(fake_service, config_dir):
    write_config(config_dir, fake_service)
    fake_service.control(update=[{"body": "badauth"}, {"body": "911"}])
    results = [run_once(config_dir, fake_service)[0] for _ in range(3)]
    assert results == [1, 1, 0]
    assert sorted(p.name for p in config_dir.iterdir()) == ["config.json", "ipstate.json"]
