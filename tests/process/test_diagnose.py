"""`korvane-client diagnose`: read only, the key masked; in the namespace worlds of a machine with temporary IPv6
addresses (tools/fake-internet) and of one behind a full tunnel (tools/fake-vpn), what it names."""
import json
import subprocess

import pytest

from conftest import CLIENT, KEY, client_env, entered, linux_only, needs_client, run, snapshot, write_config
from internetworld import InternetWorld, NamespaceRefused
from vpnworld import NamespaceRefused as TunnelRefused, VpnWorld

pytestmark = needs_client
MASKED = KEY[:11] + "…"


@pytest.mark.parametrize("args, code", [(["--json"], 0), ([], 0), (["--jsn"], 64), (["--json", "--json"], 64)])
def test_the_report_reads_only_and_masks_the_key(config_dir, args, code):
    write_config(config_dir)
    before = snapshot(config_dir)
    done = run(config_dir, "diagnose", *args)  # run() checks that the key shows on neither stream
    assert (done.returncode, snapshot(config_dir), done.stdout == b"") == (code, before, code == 64), done.stderr
    if args == ["--json"]:
        assert json.loads(done.stdout)["configuration"]["settings"]["apiKey"] == MASKED
    elif code == 0:
        assert f"  API-Key:   {MASKED}\n" in done.stdout.decode()


def diagnose(prefix, config_dir, *args):
    done = subprocess.run([*prefix, CLIENT, "diagnose", *args], env=client_env(config_dir), capture_output=True,
                          timeout=60, check=True)
    return json.loads(done.stdout) if args else done.stdout.decode()


@linux_only("network namespaces")
def test_the_stable_address_is_named_beside_the_temporary_one(config_dir):
    with entered(InternetWorld(), NamespaceRefused) as world:
        # A second /64 without a temporary address publishes its own stable one, not the first's.
        world.mac("ip addr add 2001:db8:2::b/64 dev mac0 && ip addr add 2001:db8:1::a/64 dev mac0 mngtmpaddr")
        (temporary,) = world.addresses(temporary=True)
        report = diagnose(world.mac_prefix, config_dir, "--json")
    flags = {a["address"]: (a["temporary"], a["published"]) for a in report["ipv6Addresses"]["addresses"]}
    assert flags == {"2001:db8:1::a": (False, True), temporary: (True, False), "2001:db8:2::b": (False, True)}
    assert report["ipv6DiscoverySource"]["address"] == "2001:db8:1::a"
    assert report["ipv6Route"] == {"interface": "mac0", "gateway": "2001:db8:1::1", "tunnel": False, "below": None}


@linux_only("network namespaces and tun devices")
def test_the_tunnel_and_the_way_below_it_are_named(config_dir, tmp_path):
    with entered(VpnWorld(tmp_path, "full"), TunnelRefused) as world:
        report, text = diagnose(world.prefix("mac"), config_dir, "--json"), diagnose(world.prefix("mac"), config_dir)
    assert report["ipv4Route"] == {"interface": "vpn0", "gateway": None, "tunnel": True,
                                   "below": {"interface": "phys0", "gateway": "10.1.0.1"}}
    assert "IPv4-Weg ins Internet: Tunnel vpn0 — darunter phys0, Router 10.1.0.1\n" in text
