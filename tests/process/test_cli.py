"""The commands a user types, as a process: bytes on both streams, exit status and the files afterwards."""
import base64
import fcntl
import json
import os
import resource
import select
import random
import shutil
import signal
import socket
import subprocess
import termios
import time

import pytest

from conftest import (CLIENT, HOST, KEY, LINE, VERSION, client_env, linux_only, mounted, needs_client, no_job, run,
                      snapshot, stored, write_config)
from fakeservice import FakeService

pytestmark = [needs_client, no_job]
NOBODY = 65534
USAGE = (f"korvane-client {VERSION} — Korvane DynDNS-Client für macOS\n\n"
         "Verwendung: korvane-client <befehl>\n\n"
         "  run          Daemon-Modus (wird von launchd gestartet; endlos)\n"
         "  configure    Konfiguration anlegen/ändern (root; fragt fehlende Werte ab)\n"
         "               [--hostname <fqdn>] [--interval <min>] [--ipv4|--no-ipv4]\n"
         "               [--ipv6|--no-ipv6] [--api-key-stdin]\n"
         "  once         Einen Update-Zyklus ausführen [--force]\n"
         "  status       Konfiguration und Daemon-Zustand anzeigen\n"
         "  diagnose     Zeigen, was Korvane auf diesem Rechner sieht (ändert nichts) [--json]\n"
         "  version      Version ausgeben\n")


@pytest.mark.parametrize("args, code, out, err", [
    ([], 64, USAGE, ""),
    (["help", "extra"], 0, USAGE, ""), (["--help"], 0, USAGE, ""), (["-h", "version"], 0, USAGE, ""),
    *[(args, 0, VERSION + "\n", "") for args in (["version", "--help"], ["--version"], ["-v"])],
    *[([word, "more"], 64, USAGE, f"Unbekannter Befehl: {word}\n\n")
      for word in ["Run", "VERSION", "-V", "", "status\n", "ünbekannt 🙂", "%s%n%x", "--"]],
])
def test_dispatch(config_dir, args, code, out, err):
    done = run(config_dir, *args)
    assert (done.returncode, done.stdout.decode(), done.stderr.decode()) == (code, out, err)
    assert not any(config_dir.iterdir())


# --- configure ---------------------------------------------------------------------------------------------

CONFIGURE_USAGE = ("Verwendung: korvane-client configure [--hostname <fqdn>] [--interval <min>] [--ipv4|--no-ipv4] "
                   "[--ipv6|--no-ipv6] [--api-key-stdin]\n")
HOST_PROMPT = "Hostname (z.B. home.example.net): "
KEY_PROMPT = "API-Key (dyndns_…, Eingabe unsichtbar): "
STORED_KEY = "dyndns_storedsecret4711"
INVALID = "Konfiguration ungültig: "


def summary(config_dir, hostname="stored.example.net", minutes=20, ipv4="an", ipv6="an"):
    return (f"Konfiguration gespeichert: {config_dir}/config.json\n  Hostname:  {hostname}\n"
            f"  Intervall: {minutes} min\n  IPv4:      {ipv4}\n  IPv6:      {ipv6}\n")


def store(config_dir, mode=0o600):
    write_config(config_dir, hostname="stored.example.net", apiKey=STORED_KEY, updateIntervalMinutes=20,
                 enableIpv6=True, ipv4DiscoveryUrls=["https://v4.example"])
    (config_dir / "config.json").chmod(mode)
    (config_dir / "ipstate.json").write_text('{"ipv4":"192.0.2.1"}')
    (config_dir / "dnscheck.json").write_text('{"hostname":"stored.example.net","outcome":"confirmed"}')


# Against a stored configuration: arguments, piped input, exit status, stdout (None: the summary), stderr,
# and the fields stored afterwards (None: every file as it was).
@pytest.mark.parametrize("args, given, code, out, err, saved", [
    *[(args, b"new.example.net\ndyndns_newkey12345\n", 64, "", message + "\n" + CONFIGURE_USAGE, None)
      for args, message in [
          (["--hostname"], "--hostname braucht einen Wert."),
          (["--interval"], "--interval braucht eine Minutenzahl."),
          (["--interval", "5 min"], "--interval braucht eine Minutenzahl."),
          (["--verbose"], "Unbekannte Option: --verbose"),
          (["--interval=5"], "Unbekannte Option: --interval=5"),
          (["-h"], "Unbekannte Option: -h")]],
    (["--no-ipv4", "--no-ipv6"], b"", 1, "",
     INVALID + "Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein.\n", None),
    (["--interval", "-5"], b"", 1, "", INVALID + "Update-Intervall muss mindestens 1 Minute(n) betragen.\n", None),
    (["--api-key-stdin"], b"", 1, "", INVALID + "API-Key fehlt.\n", None),
    (["--api-key-stdin"], b"dyndns_\xff\xfe0000\n", 1, "", INVALID + "API-Key ist kein gültiger UTF-8-Text.\n", None),
    (["--hostname", "h\udcc3.example.net"], b"", 1, "", INVALID + "Hostname ist kein gültiger UTF-8-Text.\n", None),
    ([], b"", 0, None, "", {"apiKey": STORED_KEY, "hostname": "stored.example.net"}),
    (["--api-key-stdin"], b"dyndns_fromstdin0001\r\n", 0, None, "", {"apiKey": "dyndns_fromstdin0001"}),
    (["--hostname", "--ipv6", "--interval", "+15", "--no-ipv4", "--interval", "7"], b"\n", 0, None, "",
     {"hostname": "--ipv6", "updateIntervalMinutes": 7, "enableIpv4": False, "enableIpv6": True,
      "apiKey": STORED_KEY, "ipv4DiscoveryUrls": ["https://v4.example"]}),
    (["--ipv4", "--no-ipv6", "--hostname", " spaced.example.net"], b"", 0, None, "",
     {"hostname": " spaced.example.net", "enableIpv4": True, "enableIpv6": False}),
])
def test_configure(config_dir, args, given, code, out, err, saved):
    store(config_dir)
    before = snapshot(config_dir)
    done = run(config_dir, "configure", *args, input=given)
    assert (done.returncode, done.stderr.decode()) == (code, err)
    if saved is None:
        assert done.stdout.decode() == out
        assert snapshot(config_dir) == before
        return
    config = stored(config_dir)
    assert {k: config[k] for k in saved} == saved
    on = {True: "an", False: "aus"}
    assert done.stdout.decode() == summary(config_dir, config["hostname"], config["updateIntervalMinutes"],
                                           on[config["enableIpv4"]], on[config["enableIpv6"]])
    assert os.stat(config_dir / "config.json").st_mode & 0o777 == 0o600
    assert sorted(p.name for p in config_dir.iterdir()) == ["config.json"]  # pushed addresses, DNS outcome forgotten


@pytest.mark.parametrize("before", [None, "{ this is not json", "missing directory"])
def test_configure_from_nothing_asks_for_host_then_key(config_dir, before):
    target = config_dir / "a" / "b" if before == "missing directory" else config_dir
    if before and target == config_dir:
        (config_dir / "config.json").write_text(before)
    done = run(target, "configure", input=b"  fresh.example.net\t\r\n dyndns_pipedkey12345 \n")
    # The host name is asked for; the key prompt is not shown on a non-terminal input.
    assert (done.returncode, done.stderr) == (0, b"")
    assert done.stdout.decode() == HOST_PROMPT + summary(target, "fresh.example.net", 5, "an", "aus")
    assert stored(target)["hostname"] == "fresh.example.net" and stored(target)["apiKey"] == "dyndns_pipedkey12345"


# The root hint only where root would help: a file that may not grow fails even root.
@pytest.mark.parametrize("as_nobody, blocked", [(False, True), (True, False), (True, True)])
def test_configure_save_failure_keeps_the_old_file(config_dir, as_nobody, blocked):
    message = (f"Speichern fehlgeschlagen: Konfigurationsdatei konnte nicht geschrieben werden: "
               f"{config_dir}/config.json.tmp")
    if as_nobody and os.geteuid() != 0:
        pytest.skip("needs root to run the program as another user")
    config_dir.chmod(0o777 if blocked else 0o755)
    store(config_dir, mode=0o644)  # readable, so the stored values are the base
    if not blocked:
        message += f" (Schreiben nach {config_dir} erfordert root — 'sudo korvane-client configure')"
    before = snapshot(config_dir)
    done = run(config_dir, "configure", "--interval", "10", "--api-key-stdin", input=b"dyndns_other123456\n",
               user=NOBODY if as_nobody else None, preexec=no_file_may_grow if blocked else None)
    assert (done.returncode, done.stdout, done.stderr.decode()) == (1, b"", message + "\n")
    assert snapshot(config_dir) == before


def no_file_may_grow():
    resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0))
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write fails with EFBIG instead


class Terminal:
    """configure with a pseudo-terminal as its controlling terminal and standard streams."""

    def __init__(self, config_dir):
        self.master, self.slave = os.openpty()

        def become_terminal_session():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # SIGQUIT must not leave a core file
            # A background job inherits these ignored, and the program rightly keeps them so.
            signal.signal(signal.SIGINT, signal.SIG_DFL)
            signal.signal(signal.SIGQUIT, signal.SIG_DFL)

        self.process = subprocess.Popen([CLIENT, "configure"], stdin=self.slave, stdout=self.slave,
                                        stderr=self.slave, env=client_env(config_dir), start_new_session=True,
                                        preexec_fn=become_terminal_session)
        self.seen = b""

    def wait_for(self, prompt):
        """Until the prompt is shown, and for the key's prompt until echo is off."""
        deadline = time.monotonic() + 30
        while prompt.encode() not in self.seen or (prompt == KEY_PROMPT and self.echo_on()):
            assert time.monotonic() < deadline, f"never saw {prompt!r} ready; got {self.seen!r}"
            if select.select([self.master], [], [], 0.05)[0]:
                self.seen += os.read(self.master, 4096)

    def echo_on(self):
        return bool(termios.tcgetattr(self.slave)[3] & termios.ECHO)

    def finish(self):
        """The exit status and whether echo is on; then everything written, read until the terminal is closed."""
        code, echo = self.process.wait(timeout=30), self.echo_on()
        os.close(self.slave)
        self.slave = None
        try:
            while select.select([self.master], [], [], 30)[0] and (chunk := os.read(self.master, 4096)):
                self.seen += chunk
        except OSError:  # EIO: drained, and no writer left
            pass
        return code, echo


@pytest.fixture
def terminal(config_dir):
    opened = []
    yield lambda: opened.append(Terminal(config_dir)) or opened[-1]
    for t in opened:
        if t.process.poll() is None:
            t.process.kill()
            t.process.wait()
        os.close(t.master)
        if t.slave is not None:
            os.close(t.slave)


# Each step waits for a prompt, then types; the host name is echoed by the terminal, the key is not.
@pytest.mark.parametrize("steps, host, key", [
    ([(KEY_PROMPT, b"dyndns_typedsecret9X\x7f9\n")], "stored.example.net", "dyndns_typedsecret99"),
    ([(KEY_PROMPT, b"  \n")], "stored.example.net", STORED_KEY),
    ([(HOST_PROMPT, b"typed.example.net\n"), (KEY_PROMPT, b"dyndns_interactive01\n")], "typed.example.net",
     "dyndns_interactive01"),
])
def test_terminal_hides_the_key(config_dir, terminal, steps, host, key):
    stored_before = steps[0][0] == KEY_PROMPT
    if stored_before:
        store(config_dir)
    t, expected = terminal(), ""
    for prompt, typed in steps:
        t.wait_for(prompt)
        # Canonical line editing stays on: the line is delivered on Enter, a backspace edits it.
        assert termios.tcgetattr(t.slave)[3] & termios.ICANON
        os.write(t.master, typed)
        expected += prompt + (typed.decode() if prompt == HOST_PROMPT else "\n")
    assert t.finish() == (0, True)
    expected += summary(config_dir, host, *((20, "an", "an") if stored_before else (5, "an", "aus")))
    assert t.seen.replace(b"\r\n", b"\n").decode() == expected
    assert (stored(config_dir)["hostname"], stored(config_dir)["apiKey"]) == (host, key)


@pytest.mark.parametrize("keys, sig", [(b"\x03", signal.SIGINT), (b"\x1c", signal.SIGQUIT), (b"", signal.SIGTERM)])
def test_a_signal_during_hidden_input_restores_echo(config_dir, terminal, keys, sig):
    store(config_dir)
    before = snapshot(config_dir)
    t = terminal()
    t.wait_for(KEY_PROMPT)
    os.write(t.master, b"dyndns_half" + keys)
    if not keys:
        t.process.send_signal(sig)
    assert t.finish() == (-sig, True)
    assert snapshot(config_dir) == before


# --- status ------------------------------------------------------------------------------------------------

NOT_CONFIGURED = "  (noch nicht konfiguriert — 'sudo korvane-client configure')\n"
READ_HINT = " — Lesen erfordert ggf. root ('sudo korvane-client status')"
UNDECODABLE = "  nicht lesbar: Konfigurationsdatei ist leer oder ungültig: {dir}/config.json"
PREFIX = "API-Key muss mit 'dyndns_' beginnen — Account-Passwörter werden vom Server abgelehnt."


def config_lines(key_shown, hostname=HOST, minutes=5, ipv4="an", ipv6="aus", warning=None):
    return (f"  Hostname:  {hostname}\n  API-Key:   {key_shown}\n  Intervall: {minutes} min\n"
            f"  IPv4:      {ipv4}\n  IPv6:      {ipv6}\n" + (f"  ⚠ ungültig: {warning}\n" if warning else ""))


# The configuration file (None: none, bytes: as they stand, dict: its fields), ipstate.json, and what the
# report shows for them; as root, and as an ordinary user who cannot write the directory.
@pytest.mark.parametrize("config, ipstate, shown, pushed, user", [
    (None, None, NOT_CONFIGURED, "(noch nichts)", None),
    # without a configuration whoever's record it is
    (None, '{"hostname":"old.example.net","ipv4":"192.0.2.1","ipv6":"2001:db8::1"}', NOT_CONFIGURED,
     "192.0.2.1 / 2001:db8::1", None),
    (b"{not json", None, UNDECODABLE + "\n", "(noch nichts)", None),
    ({"apiKey": KEY}, None, "  nicht lesbar: {dir}/config.json: Permission denied" + READ_HINT + "\n",
     "(noch nichts)", NOBODY),
    # user 0: root, in a directory others may write (said, not changed)
    (None, None, NOT_CONFIGURED + "  ⚠ für andere Benutzer beschreibbar: {dir}\n", "(noch nichts)", 0),
    ({"apiKey": "dyndns_abcde"}, None, config_lines("dyndns_abcd…"), "(noch nichts)", None),
    # what was pushed for another host is nothing for this one
    ({"apiKey": KEY}, '{"hostname":"old.example.net","ipv4":"192.0.2.1"}', config_lines("dyndns_test…"),
     "(noch nichts)", None),
    ({"apiKey": "dyndns_abcd"}, None, config_lines("(gesetzt)"), "(noch nichts)", None),
    ({"apiKey": "dyndns_äöü€🙂xyz"}, None, config_lines("dyndns_äöü€…"), "(noch nichts)", None),
    ({"apiKey": "DYNDNS_abcdefghijkl"}, None, config_lines("(gesetzt)", warning=PREFIX), "(noch nichts)", None),
    ({"apiKey": ""}, None, config_lines("(leer)", warning="API-Key fehlt."), "(noch nichts)", None),
    ({"apiKey": KEY, "hostname": "", "updateIntervalMinutes": 60, "enableIpv4": False, "enableIpv6": True},
     None, config_lines("dyndns_test…", "", 60, "aus", "an", "Hostname fehlt."), "(noch nichts)", None),
])
def test_status(config_dir, config, ipstate, shown, pushed, user):
    if user is not None:
        if os.geteuid() != 0:
            pytest.skip("needs root to run the program as another user")
        config_dir.chmod(0o777 if user == 0 else 0o755)
    if isinstance(config, bytes):
        (config_dir / "config.json").write_bytes(config)
        (config_dir / "config.json").chmod(0o644)
    elif config is not None:
        write_config(config_dir, **config)
    if ipstate is not None:
        (config_dir / "ipstate.json").write_text(ipstate)
    before = snapshot(config_dir)
    done = run(config_dir, "status", "--verbose", "x", user=user)
    assert (done.returncode, done.stderr) == (0, b"")
    assert done.stdout.decode() == (
        f"korvane-client {VERSION}\nKonfiguration: {config_dir}/config.json\n" + shown.format(dir=config_dir) +
        f"Zuletzt gepusht: {pushed}\n"
        "Daemon: nicht installiert (kein /Library/LaunchDaemons/com.korvane.client.plist)\n")
    assert snapshot(config_dir) == before
    if isinstance(config, dict) and config["apiKey"].strip():
        assert config["apiKey"] not in done.stdout.decode()


# The home router's verdict in status.json and its line; the router's address only when it is an IPv4 address.
@pytest.mark.parametrize("verdict, line", [
    ({"reachability": "unknown", "routerIpv4": "203.0.113.7"}, ""),
    ({"reachability": "forwardable", "routerIpv4": "203.0.113.7"},
     "IPv4 von außen: erreichbar für Ports, die der Router weiterleitet (Router extern: 203.0.113.7)\n"),
    ({"reachability": "secondRouter", "routerIpv4": "192.168.178.2\n\x1b[2J"},
     "IPv4 von außen nicht erreichbar: ein zweiter Router davor\n"),
])
def test_status_says_whether_the_published_ipv4_reaches_this_mac(config_dir, verdict, line):
    (config_dir / "status.json").write_text(json.dumps({
        "daemonVersion": VERSION, "message": "m", "state": "ok", "updatedAt": "2026-01-31T08:15:00Z", **verdict}))
    done = run(config_dir, "status")
    assert f"Zuletzt gepusht: (noch nichts)\n{line}Daemon: " in done.stdout.decode()


def test_status_without_a_configuration_directory_names_the_system_one(tmp_path):
    done = run(tmp_path, "status", env=client_env(tmp_path, KORVANE_CONFIG_DIR=""))
    assert "Konfiguration: /Library/Application Support/RuzEdaRoredo/config.json\n" in done.stdout.decode()


# --- once --------------------------------------------------------------------------------------------------

UNUSABLE = "Konfiguration unbrauchbar: "
GOOD = ["[INFO] DynDNS aktualisiert: 203.0.113.7.", "DynDNS aktualisiert: 203.0.113.7."]
TRANSIENT = "Vorübergehender Serverfehler ({0}). Erneuter Versuch im nächsten Intervall."
OLD = {"ipv4": "192.0.2.99"}
REJECTIONS = [("nohost", "Hostname nicht gefunden oder nicht diesem Key zugeordnet."),
              ("badauth", "Authentifizierung fehlgeschlagen — API-Key prüfen."),
              ("notfqdn", "Hostname ist kein gültiger FQDN."),
              ("abuse", "Vom Server als Missbrauch abgewiesen (gesperrt oder unzulässige Ziel-IP)."),
              ("badparam", "Ungültige Parameter im Update-Request.")]
# The forms in which a service can echo the credential: the key, Base64 of the Basic credential and of the key,
# percent-encoded with hex digits of either case.
ECHOES = [KEY, base64.b64encode(f"{HOST}:{KEY}".encode()).decode(), base64.b64encode(KEY.encode()).decode(),
          "".join(f"%{b:02x}" for b in KEY.encode()), "".join(f"%{b:02X}" for b in KEY.encode())]
MASKED = "911 dyndns_test…"


def shown_lines(out):
    """Each line of stdout, log lines without their time stamp."""
    return [(lambda m: m.group(1) if m else line)(LINE.match(line)) for line in out.splitlines()]


def matches(lines, expected):
    """Exact lines; an expected line ending in "*" only as a prefix."""
    return len(lines) == len(expected) and all(
        line.startswith(want[:-1]) if want.endswith("*") else line == want for line, want in zip(lines, expected))


# Configuration (fields over the usual ones, a raw text, or None), fake settings, ipstate.json before, arguments;
# exit status, stdout lines ({f} is the fake's address), stderr ({path} is config.json's), ipstate.json after
# (both records of the configured host).
@pytest.mark.parametrize("config, control, before, args, code, out, err, after", [
    ({"enableIpv6": True}, {}, None, [], 0, ["[INFO] DynDNS aktualisiert: 203.0.113.7 / 2001:db8::7.",
                                             "DynDNS aktualisiert: 203.0.113.7 / 2001:db8::7."], "",
     {"ipv4": "203.0.113.7", "ipv6": "2001:db8::7"}),
    ({}, {}, {"ipv4": "203.0.113.7"}, [], 0, ["IP unverändert (203.0.113.7)."], "", "same"),
    # What a daemon still running with another host's configuration recorded after `configure` removed the file.
    ({}, {}, {"hostname": "old.example.net", "ipv4": "203.0.113.7"}, [], 0, GOOD, "", {"ipv4": "203.0.113.7"}),
    ({}, {"update": {"body": "nochg {ip}"}}, {"ipv4": "203.0.113.7"}, ["--force", "--force"], 0,
     ["[INFO] DynDNS unverändert: 203.0.113.7.", "DynDNS unverändert: 203.0.113.7."], "", "same"),
    *[({}, {"update": {"body": word}}, OLD, [], 1, [f"[ERROR] DynDNS-Update dauerhaft abgewiesen: {word}.", text],
       "", "same") for word, text in REJECTIONS],
    *[({}, {"update": answer}, None, [], 1, [f"[WARN] DynDNS-Update vorübergehend fehlgeschlagen: {answer['body']}.",
                                             TRANSIENT.format(answer["body"])], "", None)
      for answer in [{"body": "911", "status": 500}, {"body": "wibble 192.0.2.1"}]],
    ({}, {"update": {"body": "", "status": 401}}, None, [], 1,
     ["[WARN] Leerer Body bei HTTP 401 von home.example.net — Status-Code als Fallback.",
      "[ERROR] DynDNS-Update dauerhaft abgewiesen: .", REJECTIONS[1][1]], "", None),
    ({}, {"update": {"status": 500}}, None, [], 0, GOOD, "", {"ipv4": "203.0.113.7"}),
    ({}, {"ip4": "2001:db8::7\n", "ip4b": "198.51.100.4\n"}, None, [], 0,
     ["[WARN] IP-Discovery {f}/ip4 lieferte keine gültige IPv4-Adresse: 2001:db8::7",
      "[INFO] DynDNS aktualisiert: 198.51.100.4.", "DynDNS aktualisiert: 198.51.100.4."], "",
     {"ipv4": "198.51.100.4"}),
    # Credentials in a discovery address are never sent, nor shown where a "/" in them makes the address
    # invalid; an answer that drips is cut by the total bound.
    ({"ipv4DiscoveryUrls": ["https://user:secret@{h}/ip4", "{f}/ip4b"]}, {}, None, [], 0,
     ["[WARN] IP-Discovery https://user:***@{h}/ip4 fehlgeschlagen: *", *GOOD], "", {"ipv4": "203.0.113.7"}),
    ({"ipv4DiscoveryUrls": ["https://user:se/cret@{h}/ip4", "{f}/ip4b"]}, {}, None, [], 0,
     ["[WARN] IP-Discovery-URL ungültig: https://user:***@{h}/ip4", *GOOD], "", {"ipv4": "203.0.113.7"}),
    ({}, {"ip4": {"body": "192.0.2.1\n" * 5, "drip": 0.25}}, None, [], 0,
     ["[WARN] IP-Discovery {f}/ip4 fehlgeschlagen: Timeout was reached: no complete answer within 10000 "
      "milliseconds", *GOOD], "", {"ipv4": "203.0.113.7"}),
    *[({}, {"update": {"body": f"911 {echo} x"}}, None, [], 1,
       [f"[WARN] DynDNS-Update vorübergehend fehlgeschlagen: {MASKED} x.", TRANSIENT.format(f"{MASKED} x")], "", None)
      for echo in ECHOES],
    ({}, {"update": {"body": "x\n[INFO] good\x1b[2J"}}, None, [], 1,
     ["[WARN] DynDNS-Update vorübergehend fehlgeschlagen: x\\n[INFO] good\\x1B[2J.",
      TRANSIENT.format("x\\n[INFO] good\\x1B[2J")], "", None),
    ({"enableIpv6": True}, {"ip4": "x\n2026-01-01 00:00:00 [INFO] DynDNS aktualisiert: 6.6.6.6.\n",
                            "ip4b": {"drop": True}, "ip6": {"status": 503, "body": "<html>busy</html>"},
                            "ip6b": "192.0.2.1"}, None, [], 1,
     ["[WARN] IP-Discovery {f}/ip4 lieferte keine gültige IPv4-Adresse: x\\n2026-01-01 00:00:00 [INFO] "
      "DynDNS aktualisiert: 6.6.6.6.", "[WARN] IP-Discovery {f}/ip4b fehlgeschlagen: *",
      "[WARN] IPv4 aktiviert, aber keine öffentliche Adresse ermittelbar.",
      "[WARN] IP-Discovery {f}/ip6 *", "[WARN] IP-Discovery {f}/ip6b *",
      "[WARN] IPv6 aktiviert, aber keine öffentliche Adresse ermittelbar.",
      "[WARN] Keine öffentliche IP ermittelbar — Zyklus übersprungen.",
      "Keine öffentliche IP-Adresse ermittelbar."], "", None),
    ({}, {"update": {"body": "good 203.0.113.7 ", "oversize": 1048576}}, None, [], 1,
     ["[WARN] Update-Request fehlgeschlagen (Netzwerkfehler?): *",
      "Update fehlgeschlagen: Response body exceeds the limit of 65536 bytes"], "", None),
    ({}, {"update": {"status": 302, "body": "", "headers": {"Location": "http://127.0.0.1:1/nic/update"}}}, None,
     [], 1, ["[WARN] Update-Request fehlgeschlagen (Netzwerkfehler?): *", "Update fehlgeschlagen: Protocol*"], "", None),
    ({}, {}, OLD, ["--force", "--verbose"], 64, [], "Unbekannte Option: --verbose\n", "same"),
    (None, {}, None, [], 1, [], "Keine Konfiguration gefunden ({path}) — 'sudo korvane-client configure'.\n", None),
    # The decoder's and the rules' own messages are their unit tests'; here how `once` reports one of each.
    ('{"hostname": 5}', {}, None, [], 1, [], UNUSABLE + "Konfigurationsdatei ist leer oder ungültig: {path}\n", None),
    ({"apiKey": "hunter2"}, {}, None, [], 1, [], UNUSABLE + PREFIX + "\n", None),
])
def test_once(fake_service, config_dir, config, control, before, args, code, out, err, after):
    path, f = config_dir / "config.json", fake_service.base_url
    h = f.split("//")[1]
    if isinstance(config, str):
        path.write_text(config)
    elif config is not None:
        urls = {k: [u.format(f=f, h=h) for u in v] for k, v in config.items() if k.endswith("Urls")}
        write_config(config_dir, fake_service, **{**config, **urls})
    if before:
        (config_dir / "ipstate.json").write_text(json.dumps({"hostname": HOST, **before}, separators=(",", ":")))
    kept = (config_dir / "ipstate.json").read_bytes() if before else None
    fake_service.control(control)
    done = run(config_dir, "once", *args, fake=fake_service)
    assert not [echo for echo in ECHOES if echo.encode() in done.stdout]
    lines = shown_lines(done.stdout.decode())
    assert done.returncode == code, lines
    assert matches(lines, [line.format(f=f, h=h) for line in out]), lines
    assert done.stderr.decode() == err.format(path=path)
    if after == "same":
        assert (config_dir / "ipstate.json").read_bytes() == kept
    else:
        assert stored(config_dir, "ipstate.json") == ({"hostname": HOST, **after} if after else None)
    assert not (config_dir / "status.json").exists()
    log = fake_service.requests()
    if code != 0 and not out:
        assert log == []
    # Each request is sent once; the key goes to the update server only.
    assert len({r["path"] for r in log}) == len(log), log
    assert not [r for r in log if r["path"] != "/nic/update" and "authorization" in str(r["headers"]).lower()]
    # What a pushed address was sent with: one authenticated request naming the host and the addresses.
    if isinstance(after, dict) and code == 0:
        [request] = fake_service.requests("/nic/update")
        assert request["query"] == f"hostname={HOST}&myip={after['ipv4']}" + (
            f"&myipv6={after['ipv6']}" if "ipv6" in after else "")
        headers = {name.lower(): value for name, value in request["headers"]}
        assert headers["authorization"] == "Basic " + base64.b64encode(f"{HOST}:{KEY}".encode()).decode()
        assert headers["user-agent"] == f"RuzEdaRoredo-macOS/{VERSION}"
        # A connection of its own per request, each resuming the one TLS session of the process.
        assert all(r["tlsResumed"] for r in log[1:]), log


def test_once_sends_nothing_to_an_untrusted_update_server(fake_service, config_dir, tmp_path):
    write_config(config_dir, fake_service)
    with FakeService(tmp_path / "other-ca") as other:
        done = run(config_dir, "once", env=client_env(config_dir, fake_service,
                                                      KORVANE_SERVER_BASE_URL=other.base_url))
        assert other.requests("/nic/update") == []
    lines = shown_lines(done.stdout.decode())
    assert done.returncode == 1
    assert lines[0].startswith("[WARN] Update-Request fehlgeschlagen (Netzwerkfehler?): ") and "certificate" in lines[0]
    assert stored(config_dir, "ipstate.json") is None


@linux_only("a private mount namespace (unshare -m) hides the system's certificate directory")
def test_once_trusts_the_bundle_file_where_the_system_directory_is_empty_as_on_macos(fake_service, config_dir, tmp_path):
    (tmp_path / "ssl/certs").mkdir(parents=True)
    shutil.copy(fake_service.ca_file, tmp_path / "ssl/cert.pem")
    write_config(config_dir, fake_service, enableIpv6=False)
    env = client_env(config_dir, fake_service)
    del env["SSL_CERT_FILE"]
    done = subprocess.run([*mounted(tmp_path / "ssl", "/etc/ssl"), CLIENT, "once", "--force"], env=env,
                          capture_output=True, timeout=120)
    assert (done.returncode, done.stderr) == (0, b""), done.stdout
    assert len(fake_service.requests("/nic/update")) == 1


# Every name is looked up within the request's bound, in its ASCII form, and a name a peer chose stays inert.
# The name server never answers. The hosts file knows the internationalised name only as written (libcurl would
# look its ASCII form up itself, for the name server's 30 seconds), or only in its ASCII form, and it knows the
# name with controls in it that a redirect names.
@pytest.mark.parametrize("url, hosts, error", [
    ("https://korvane-silent.example/ip4", "", "Timeout was reached: no address for korvane-silent.example in time"),
    ("https://bücher.example/ip4", "127.0.0.1 bücher.example",
     "Timeout was reached: no address for xn--bcher-kva.example in time"),
    # Known in its ASCII form, the name leads to the fake, whose certificate does not name it.
    ("https://b\u00fccher.example:{p}/ip4", "127.0.0.1 xn--bcher-kva.example",
     "SSL: no alternative certificate subject name matches target host name 'xn--bcher-kva.example'"),
    ("{f}/ip4", "127.0.0.1 x\u009b31m\u202e.example",
     "Could not resolve host: x\\u009B31m\\u202E.example (no ASCII form)"),
])
def test_once_resolves_every_name_within_the_bound(fake_service, config_dir, tmp_path, url, hosts, error):
    (tmp_path / "hosts").write_text(hosts + "\n", encoding="utf-8")
    prefix = mounted(tmp_path / "resolv.conf", "/etc/resolv.conf", tmp_path / "hosts", "/etc/hosts")
    fake_service.control(ip4=[{"status": 302, "body": "", "headers": {
        "Location": f"https://x\u009b31m\u202e.example:{fake_service.port}/ip4"}}])
    url = url.replace("{f}", fake_service.base_url).replace("{p}", str(fake_service.port))
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as silent:  # takes queries, answers none
        server = f"127.{random.randrange(1, 255)}.{random.randrange(256)}.{random.randrange(1, 255)}"
        silent.bind((server, 53))
        (tmp_path / "resolv.conf").write_text(f"nameserver {server}\noptions timeout:30 attempts:1\n")
        write_config(config_dir, ipv4DiscoveryUrls=[url])
        started = time.monotonic()
        done = subprocess.run([*prefix, CLIENT, "once"], env=client_env(config_dir, SSL_CERT_FILE=fake_service.ca_file),
                              capture_output=True, timeout=120)
    # Within the 10-second bound of the request, not after the name server's 30 seconds.
    assert time.monotonic() - started < 15
    assert shown_lines(done.stdout.decode())[0] == f"[WARN] IP-Discovery {url} fehlgeschlagen: {error}"


@pytest.mark.parametrize("kind", ["fifo", "device", "huge"])
def test_once_reads_only_a_regular_configuration_of_bounded_size(config_dir, kind):
    path = config_dir / "config.json"
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "device":
        path.symlink_to("/dev/zero")
    else:
        path.write_bytes(b"")
        os.truncate(path, 64 << 20)
    done = run(config_dir, "once")
    assert (done.returncode, done.stdout, done.stderr.decode()) == (
        1, b"", f"{UNUSABLE}Konfigurationsdatei ist leer oder ungültig: {path}\n")


def test_once_finishes_its_cycle_after_its_reader_has_gone(fake_service, config_dir):
    # The first endpoint's answer is unusable: a WARN line is written before the update goes out.
    write_config(config_dir, fake_service)
    fake_service.control(ip4="x\n", ip4b="198.51.100.4\n")
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        done = subprocess.run([CLIENT, "once"], env=client_env(config_dir, fake_service), stdin=subprocess.DEVNULL,
                              stdout=write_end, stderr=subprocess.PIPE, timeout=120)
    finally:
        os.close(write_end)
    assert (done.returncode, done.stderr) == (0, b"")
    assert stored(config_dir, "ipstate.json") == {"hostname": HOST, "ipv4": "198.51.100.4"}
    assert len(fake_service.requests("/nic/update")) == 1

