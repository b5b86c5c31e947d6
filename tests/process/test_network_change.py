"""`korvane-client run` in a network namespace of its own, with the fake service on the namespace's
loopback: a changed address brings the next cycle forward, a flapping link does so once a minute at most,
and nothing wakes the pause that follows a permanent rejection. Skipped where namespaces are not permitted."""
import os
import subprocess
import time

import pytest

import processes
from fakeservice import FakeService
from test_run import CLIENT, KEY, fake_env, write_config

EARLY_LINE = "[INFO] Netzwerkänderung erkannt — Aktualisierung vorgezogen."
ROOT = os.geteuid() == 0


@pytest.fixture
def netns():
    """A namespace held open by a sleeping process; yields the prefix that runs a program inside it."""
    holder = subprocess.Popen(["unshare", *(["-n"] if ROOT else ["-r", "-n"]), "--", "sleep", "600"],
                              stderr=subprocess.PIPE)
    own = os.readlink("/proc/self/ns/net")
    deadline = time.monotonic() + 5
    while holder.poll() is None and time.monotonic() < deadline:
        try:
            if os.readlink(f"/proc/{holder.pid}/ns/net") != own:
                break
        except OSError:
            pass
        time.sleep(0.01)
    else:
        processes.stop(holder)
        pytest.skip(f"network namespaces not permitted here: {holder.stderr.read().decode().strip()}")
    prefix = ["nsenter", "-t", str(holder.pid), "-n", *([] if ROOT else ["-U", "--preserve-credentials"])]
    setup = ["link set lo up",
             "link add kv0 type dummy || ip link add kv0 type veth peer name kv1 && ip link set kv1 up",
             "link set kv0 up"]
    for step in setup:
        done = subprocess.run([*prefix, "sh", "-c", "ip " + step], capture_output=True, text=True)
        if done.returncode != 0:
            processes.stop(holder)
            pytest.skip(f"cannot set up the namespace's interfaces: {done.stderr.strip()}")
    yield prefix
    processes.stop(holder)


CHANGES = {
    "address": (KEY, ["addr add 10.77.0.2/24 dev kv0"], 1),
    "flapping link": (KEY, ["link set kv0 down", "link set kv0 up", "link set kv0 down", "link set kv0 up"], 1),
    "after badauth": ("dyndns_wrongkey", ["addr add 10.77.0.2/24 dev kv0"], 0),
}


@pytest.mark.parametrize("api_key, changes, early", CHANGES.values(), ids=CHANGES.keys())
def test_network_change_brings_the_next_cycle_forward(api_key, changes, early, netns, fake_state_dir,
                                                       config_dir, tmp_path):
    with FakeService(fake_state_dir, "--verbose", launcher=netns) as fake:
        write_config(config_dir, fake, interval=5, api_key=api_key)
        env = {**os.environ, **fake_env(fake), "KORVANE_CONFIG_DIR": str(config_dir)}
        log = tmp_path / "daemon.log"
        with open(log, "wb") as out:
            daemon = subprocess.Popen([*netns, CLIENT, "run"], stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.STDOUT, env=env)
        try:
            deadline = time.monotonic() + 30
            while not (config_dir / "status.json").exists() and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(0.5)
            assert fake.stderr_text().count('"GET /ip4 ') == 1, log.read_text()
            # Changes 2.5 s apart: each one settles (2 s) before the next, so only the rate limit holds
            # the later ones back.
            for change in changes:
                subprocess.run([*netns, "sh", "-c", "ip " + change], check=True)
                time.sleep(2.5)
            time.sleep(1.5)
            requests = fake.stderr_text()
            assert requests.count('"GET /ip4 ') == 1 + early, requests
            # An early cycle is an ordinary one: the address is unchanged, so nothing is sent.
            assert requests.count('"GET /nic/update') == 1, requests
            assert log.read_text().count(EARLY_LINE) == early, log.read_text()
            assert daemon.poll() is None
        finally:
            processes.stop(daemon)
