"""The IPv6 address published from a machine that prefers temporary addresses (use_tempaddr=2, as macOS does),
in a namespace of its own one hop from an "internet" namespace where the fake echoes each client's source."""
import subprocess
import time

from conftest import CLIENT, client_env, entered, linux_only, needs_client, write_config
from fakeservice import FakeService, stop
from internetworld import SERVICE, InternetWorld, NamespaceRefused
from test_daemon import Daemon

pytestmark = [needs_client, linux_only("network namespaces")]
STABLE = "2001:db8:1::a"


def test_the_stable_address_is_published_and_temporary_ones_come_and_go_unnoticed(config_dir, tmp_path):
    with entered(InternetWorld(), NamespaceRefused) as world, \
            FakeService(tmp_path / "fake", "--listen", SERVICE, launcher=world.internet_prefix) as fake:
        world.mac(f"ip addr add {STABLE}/64 dev mac0 mngtmpaddr")
        (temporary,) = world.addresses(temporary=True)
        assert world.source() == temporary  # what an echo would see of a socket left to the kernel

        def requests(path):
            return [r for r in world.call(fake, "/_requests") if r["path"] == path]

        write_config(config_dir, fake, enableIpv6=True, ipv6DiscoveryUrls=[fake.url("/ip6")])
        env = client_env(config_dir, fake)
        world.call(fake, "/_control", {"ip6": "{client}\n"})
        once = subprocess.run([*world.mac_prefix, CLIENT, "once"], env=env, capture_output=True, timeout=60)
        assert once.returncode == 0, once.stdout + once.stderr
        assert [r["client"] for r in requests("/ip6")] == [STABLE]
        # An echo that saw the temporary address all the same: the stable one beside it goes out.
        world.call(fake, "/_control", {"ip6": f"{temporary}\n"})
        forced = subprocess.run([*world.mac_prefix, CLIENT, "once", "--force"], env=env, capture_output=True,
                                timeout=60)
        assert forced.returncode == 0, forced.stdout + forced.stderr
        assert [dict(r["params"]).get("myipv6") for r in requests("/nic/update")] == [STABLE, STABLE]

        world.call(fake, "/_control", {"ip6": "{client}\n"})
        daemon = Daemon(config_dir, env, tmp_path / "daemon.log", world.mac_prefix)
        try:
            assert dict(daemon.new_status())["state"] == "ok"
            # The temporary address is deprecated (the kernel makes the next one), then goes.
            world.mac(f"ip addr change {temporary}/64 dev mac0 preferred_lft 0 valid_lft 60")
            assert [a for a in world.addresses(temporary=True) if a != temporary]
            world.mac(f"ip addr del {temporary}/64 dev mac0")
            time.sleep(4)  # past the watch's two seconds of quiet
            assert (len(requests("/ip6")), len(requests("/nic/update"))) == (3, 2), daemon.messages()
            # A new stable address is a change: the next lookup comes early.
            world.mac("ip addr add 2001:db8:1::b/64 dev mac0")
            daemon.wait_for(lambda: len(requests("/ip6")) == 4, seconds=10)
        finally:
            stop(daemon.process)
