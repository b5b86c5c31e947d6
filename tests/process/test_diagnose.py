"""`korvane-client diagnose`: the report of what the client sees, read only, here and in the namespace worlds of a
machine with temporary IPv6 addresses (tools/fake-internet) and one behind a full tunnel (tools/fake-vpn)."""
import json
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import CLIENT, KEY, client_env, linux_only, needs_client, run, snapshot, write_config

TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path[:0] = [str(TOOLS / "fake-internet"), str(TOOLS / "fake-vpn")]
from internetworld import InternetWorld, NamespaceRefused  # noqa: E402
from vpnworld import NamespaceRefused as TunnelRefused, VpnWorld  # noqa: E402

pytestmark = needs_client


@pytest.mark.parametrize("args, code", [(["--json"], 0), ([], 0), (["--jsn"], 64), (["--json", "--json"], 64)])
def test_the_report_reads_only_and_masks_the_key(config_dir, args, code):
    write_config(config_dir)
    before = snapshot(config_dir)
    done = run(config_dir, "diagnose", *args)  # run() checks that the key shows on neither stream
    assert done.returncode == code, done.stderr
    assert snapshot(config_dir) == before and (done.stdout == b"") == (code == 64)
    if args == ["--json"]:
        report = json.loads(done.stdout)
        assert report["configuration"]["settings"]["apiKey"] == KEY[:11] + "…"
        assert report["build"]["version"] == "0.24.0" and report["launchd"] is None
    elif code == 0:
        assert f"  API-Key:   {KEY[:11]}…\n" in done.stdout.decode()


def diagnose(prefix, config_dir):
    done = subprocess.run([*prefix, CLIENT, "diagnose", "--json"], env=client_env(config_dir), capture_output=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@linux_only("network namespaces")
def test_the_stable_address_is_named_beside_the_temporary_one(config_dir):
    try:
        world = InternetWorld().__enter__()
    except NamespaceRefused as refused:
        pytest.skip(f"network namespaces not permitted here: {refused}")
    try:
        world.mac("ip addr add 2001:db8:1::a/64 dev mac0 mngtmpaddr")
        (temporary,) = world.addresses(temporary=True)
        report = diagnose(world.mac_prefix, config_dir)
    finally:
        world.__exit__()
    flags = {a["address"]: (a["temporary"], a["published"]) for a in report["ipv6Addresses"]["addresses"]}
    assert flags == {"2001:db8:1::a": (False, True), temporary: (True, False)}
    assert report["ipv6Addresses"]["prefixes"] == [{"prefix": "2001:db8:1::/64", "published": "2001:db8:1::a"}]
    assert report["ipv6DiscoverySource"]["address"] == "2001:db8:1::a"
    assert report["ipv6Route"] == {"interface": "mac0", "gateway": "2001:db8:1::1", "tunnel": False, "below": None}


@linux_only("network namespaces and tun devices")
def test_the_tunnel_and_the_way_below_it_are_named(config_dir, tmp_path):
    try:
        world = VpnWorld(tmp_path, "full").__enter__()
    except TunnelRefused as refused:
        pytest.skip(f"network namespaces or tun devices not permitted here: {refused}")
    try:
        report = diagnose(world.prefix("mac"), config_dir)
        text = subprocess.run([*world.prefix("mac"), CLIENT, "diagnose"], env=client_env(config_dir),
                              capture_output=True, timeout=60).stdout.decode()
    finally:
        world.__exit__()
    assert report["ipv4Route"] == {"interface": "vpn0", "gateway": None, "tunnel": True,
                                   "below": {"interface": "phys0", "gateway": "10.1.0.1"}}
    assert "IPv4-Weg ins Internet: Tunnel vpn0 — darunter phys0, Router 10.1.0.1\n" in text
