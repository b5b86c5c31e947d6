"""The daemon's DNS confirmation against a real authoritative server (knot) in a namespace of its own whose
/etc/resolv.conf names it; fake-dyndns publishes each accepted update there."""
import json
import os
import stat
import subprocess
import sys
import time
from datetime import datetime, timedelta

import pytest

from conftest import HOST, LINE, client_env, entered, mac_only, needs_client, write_config
from dnsworld import DNSWORLD, DnsWorld, NamespaceRefused
from fakeservice import FakeService, stop
from test_daemon import FAKETIME, Daemon, faster

pytestmark = needs_client
KNOT = pytest.mark.skipif(not os.path.exists("/usr/sbin/knotd"), reason="knot is not installed")
NS = [{"address": "127.0.0.1", "name": "ns1.example.net"}]
MANY = [f"198.51.100.{n}" for n in range(1, 61)]


def lines(log):
    return [LINE.match(line).group(1) for line in log.read_text(encoding="utf-8").splitlines()]


@KNOT
# zone records, addresses pushed before, name server address, how the run goes ("fast": faketime with a one-
# minute interval; "unpublished": faketime, an hour's interval and a service whose DNS never follows), then
# what must show in the end.
@pytest.mark.parametrize("zone, pushed, ns, run, outcome, served, updates, logged", [
    (["home A 198.51.100.7"], None, "127.0.0.1", "", "confirmed", ["203.0.113.7"], 1,
     ["[INFO] DynDNS aktualisiert: 203.0.113.7.",
      "[INFO] DNS bestätigt: 203.0.113.7 bei ns1.example.net (127.0.0.1)."]),
    (["home A 198.51.100.7"], "203.0.113.7", "127.0.0.1", "fast", "confirmed", ["203.0.113.7"], 1,
     ["[WARN] DNS abweichend: Nameserver liefern 198.51.100.7 statt 203.0.113.7 (ns1.example.net (127.0.0.1)).",
      "[INFO] DNS-Eintrag anderweitig geändert — Adressen werden erneut gesendet.",
      "[INFO] DynDNS aktualisiert: 203.0.113.7.",
      "[INFO] DNS bestätigt: 203.0.113.7 bei ns1.example.net (127.0.0.1)."]),
    (["home A 198.51.100.7"], None, "127.0.0.1", "unpublished", "mismatch", ["198.51.100.7"], 1,
     ["[INFO] DynDNS aktualisiert: 203.0.113.7.",
      "[INFO] DNS noch nicht aktuell: Nameserver liefern 198.51.100.7 — erneute Prüfung folgt.",
      "[WARN] DNS abweichend: Nameserver liefern 198.51.100.7 statt 203.0.113.7 (ns1.example.net (127.0.0.1))."]),
    (["home A 198.51.100.7"], "203.0.113.7", "127.0.0.9", "", "unknown", [], 0,
     ["[INFO] DNS nicht prüfbar: keine Antwort von ns1.example.net (127.0.0.9)."]),
    ([f"home A {a}" for a in MANY], "203.0.113.7", "127.0.0.1", "", "mismatch", sorted(MANY), 0,
     [f"[WARN] DNS abweichend: Nameserver liefern {' / '.join(sorted(MANY))} statt 203.0.113.7 "
      "(ns1.example.net (127.0.0.1))."]),
    (["home A 203.0.113.7"], "203.0.113.7", "stalled", "fast", "unknown", [], 0,
     ["[INFO] DNS nicht prüfbar: keine zuständigen Nameserver gefunden."]),
], ids=["update confirmed", "changed behind the back, repaired", "never published, retried in the pause",
        "silent server", "truncated, over TCP", "resolver truncates, then holds TCP"])
def test_confirmation(zone, pushed, ns, run, outcome, served, updates, logged, config_dir, tmp_path):
    if run and not FAKETIME:
        pytest.skip("libfaketime is not installed")
    stalled = ns == "stalled"
    with entered(DnsWorld(tmp_path / "dns", zone, "127.0.0.1" if stalled else ns, stalled), NamespaceRefused) as world:
        publishing = ("--verbose", *(("--on-good", str(world.publisher)) if run != "unpublished" else ()))
        with FakeService(tmp_path / "fake", *publishing, launcher=world.prefix) as fake:
            write_config(config_dir, fake, updateIntervalMinutes=1 if run == "fast" else 60)
            if pushed:
                (config_dir / "ipstate.json").write_text(json.dumps({"hostname": HOST, "ipv4": pushed}))
            # A minute passes in two seconds; the name servers' bounds are real time (monotonic clock).
            env = client_env(config_dir, fake, **(faster(30) if run else {}))
            daemon = Daemon(config_dir, env, tmp_path / "daemon.log", world.prefix)
            try:
                status, check = config_dir / "status.json", config_dir / "dnscheck.json"
                daemon.wait_for(lambda: check.exists() and logged[-1] in lines(daemon.log))
                written = json.loads(check.read_text())
                if ns != "127.0.0.1":
                    # One silent server costs its 2 s and no more; the zone search its 6 s at most.
                    assert 1.5 < check.stat().st_mtime - status.stat().st_mtime < (7 if stalled else 3)
                if run == "unpublished":
                    # The last look comes 5 minutes after the update, inside the hour's pause.
                    updated = datetime.fromisoformat(json.loads(status.read_text())["updatedAt"][:-1])
                    assert abs(datetime.fromisoformat(written["checkedAt"][:-1]) - updated - timedelta(minutes=5)) \
                        < timedelta(seconds=10)
                time.sleep(3 if run else 0.5)  # the next cycles find it confirmed and push nothing more
                if stalled:  # and the cycles go on
                    daemon.wait_for(lambda: json.loads(check.read_text())["checkedAt"] > written["checkedAt"], 20)
                assert [m for m in lines(daemon.log)[2:] if "DNS" in m] == logged
                assert {k: written[k] for k in ("outcome", "served", "servers")} == {
                    "outcome": outcome, "served": served,
                    "servers": [] if stalled else [{**NS[0], "address": ns}]}
                assert stat.S_IMODE(check.stat().st_mode) == 0o644
                assert fake.stderr_text().count('"GET /nic/update') == updates
            finally:
                stop(daemon.process)


# The resolver that truncates, then holds TCP, at an address the test names (KORVANE_RESOLVER), so that the Mac's
# own resolver code meets it: the zone search gives up within its 6 s and the cycle goes on.
@mac_only("a resolver the test names, without namespaces; Linux runs it in the DNS world above")
def test_a_stalled_resolver_costs_the_zone_search_its_bound(config_dir, fake_service, tmp_path):
    stall = subprocess.Popen([sys.executable, str(DNSWORLD), "stall", "127.0.0.1"], stdout=subprocess.PIPE)
    status, check = config_dir / "status.json", config_dir / "dnscheck.json"
    try:
        assert stall.stdout.readline() == b"listening\n"
        write_config(config_dir, fake_service)
        env = client_env(config_dir, fake_service, KORVANE_RESOLVER="127.0.0.1")
        daemon = Daemon(config_dir, env, tmp_path / "daemon.log")
        try:
            daemon.wait_for(check.exists)
            assert json.loads(check.read_text())["outcome"] == "unknown" and daemon.process.poll() is None
            assert 1.5 < check.stat().st_mtime - status.stat().st_mtime < 7
            assert "[INFO] DNS nicht prüfbar: keine zuständigen Nameserver gefunden." in lines(daemon.log)
        finally:
            stop(daemon.process)
    finally:
        stall.kill()
