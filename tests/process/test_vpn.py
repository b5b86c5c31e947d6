"""Discovery beside a VPN: the client in a "mac" namespace whose way to the internet may go through a tunnel
(tools/fake-vpn); the fake service out on the "internet" answers each echo with the address it came from."""
import re
import subprocess

import pytest

from conftest import CLIENT, LINE, client_env, entered, linux_only, needs_client, write_config
from fakeservice import FakeService
from vpnworld import PHYSICAL, SERVICE, NamespaceRefused, VpnWorld

pytestmark = [needs_client, linux_only("network namespaces and tun devices")]
FOUND = "[INFO] IPv4 geht durch den Tunnel vpn0 ins Internet — die IP-Discovery geht an ihm vorbei über phys0."
BLOCKED = "[WARN] IPv4-Discovery am Tunnel vpn0 vorbei über phys0 nicht möglich — keine IPv4-Adresse in diesem Zyklus."


# The mac's routes (vpnworld.LAYOUTS), the address the update must carry (None: no update), the tunnel's lines.
@pytest.mark.parametrize("layout, published, logged", [
    ("full", PHYSICAL, [FOUND]),
    ("fwmark", PHYSICAL, [FOUND]),
    ("def1", PHYSICAL, [FOUND]),
    ("split", PHYSICAL, []),
    ("blocked", None, [FOUND, BLOCKED]),
    ("lan", PHYSICAL, [FOUND]),
], ids=["physical default at a higher metric", "wg-quick's firewall mark", "0/1 + 128/1", "split tunnel",
        "kill switch", "beside a network without a way out"])
def test_the_address_found_is_the_one_past_the_tunnel(layout, published, logged, config_dir, tmp_path):
    with entered(VpnWorld(tmp_path, layout), NamespaceRefused) as world, \
            FakeService(tmp_path / "fake", "--listen", SERVICE, "--echo-source", "--verbose",
                        launcher=world.prefix("internet")) as fake:
        write_config(config_dir, fake, enableIpv6=False)
        done = subprocess.run([*world.prefix("mac"), CLIENT, "once"], env=client_env(config_dir, fake),
                              capture_output=True, timeout=60)
        seen = fake.stderr_text().splitlines()
    lines = [m.group(1) for m in map(LINE.match, done.stdout.decode().splitlines()) if m]
    # Every echo request came from the physical network, and none was retried through the tunnel.
    assert [line.split()[1] for line in seen if '"GET /ip4' in line] == ([published] if published else [])
    assert re.findall(r"myip=([^& ]+)", "\n".join(line for line in seen if "/nic/update" in line)) == \
        ([published] if published else [])
    assert [line for line in lines if "Tunnel" in line] == logged
