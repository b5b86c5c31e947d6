"""A home network in network namespaces, for the tests of what the router says about its external address:
"mac" (mac0, 192.168.1.2 behind the router at 192.168.1.1), "router" (lan0 towards the mac, wan0 out, masquerading
on wan0, and miniupnpd with NAT-PMP, PCP and UPnP on lan0), an optional "upstream" box between the router and
the internet that masquerades again (a carrier's NAT or a first router), and "internet" (the fake service at
SERVICE, on the public net 80.81.82.0/24). No packet leaves these namespaces; PUBLIC is not a reserved address
because miniupnpd, like a real router, reports none of those. Every other address refuses at once from the
internet, and the mac's commands see a resolver on its loopback that refuses every query.

    with RouterWorld(workdir, "forwardable") as world:   # raises NamespaceRefused where namespaces are refused
        subprocess.run([*world.mac_prefix, program, ...])
        world.call(fake, "/_requests")                    # the fake's control API, from inside the internet

Layouts (LAYOUTS): the router's WAN holds PUBLIC; its WAN in 100.64.0.0/10 behind a carrier; its WAN private behind
a first router; the carrier's with UPnP alone; its WAN 192.0.0.2 behind a DS-Lite AFTR; the router with NAT-PMP and UPnP off; a router whose firewall swallows PCP/NAT-PMP and SSDP; and
the mac holding PUBLIC itself, straight on the internet.

    routerworld.py LAYOUT -- COMMAND...   # COMMAND in the mac while the world stands; a benchmark's fake service
                                          # goes on the internet (bench/benchlib.py: ROUTERWORLD_INTERNET, _SERVICE)
"""
import os
import socket
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "fake-internet"))
from internetworld import NamespaceRefused, call_fake, namespace_holder, run_in  # noqa: E402,F401

SERVICE, PUBLIC, INTERNET_GW = "198.51.100.80", "80.81.82.2", "80.81.82.1"
MAC, ROUTER_LAN = "192.168.1.2", "192.168.1.1"
# Per layout: the router's WAN address and its gateway (None: no router, the mac is on the internet itself),
# whether an upstream box masquerades between router and internet, miniupnpd on or off, the firewall's swallow.
LAYOUTS = {
    "forwardable": dict(wan=(PUBLIC, INTERNET_GW), upstream=False, upnp=True, swallow=False),
    "carrier": dict(wan=("100.64.0.2", "100.64.0.1"), upstream=True, upnp=True, swallow=False),
    "second": dict(wan=("192.168.178.2", "192.168.178.1"), upstream=True, upnp=True, swallow=False),
    # DS-Lite as the home router sees it: its IPv4 leaves from 192.0.0.2 towards the carrier's AFTR, which NATs.
    "dslite": dict(wan=("192.0.0.2", "192.0.0.1"), upstream=True, upnp=True, swallow=False),
    # Behind carrier NAT with UPnP alone: an empty external address while the connection is up.
    "carrier-upnp": dict(wan=("100.64.0.2", "100.64.0.1"), upstream=True, upnp=True, swallow=False, natpmp=False),
    "off": dict(wan=(PUBLIC, INTERNET_GW), upstream=False, upnp=False, swallow=False),
    "swallow": dict(wan=(PUBLIC, INTERNET_GW), upstream=False, upnp=True, swallow=True),
    "direct": dict(wan=None, upstream=False, upnp=False, swallow=False),
}
MASQUERADE = "nft add table ip nat && nft add chain ip nat post '{{ type nat hook postrouting priority 100 ; }}' && " \
             "nft add rule ip nat post oifname {out} masquerade"
# Silence, not a refusal: no ICMP answer for PCP/NAT-PMP, SSDP or the UPnP description.
SWALLOW = "nft add table ip wall && nft add chain ip wall in '{ type filter hook input priority 0 ; }' && " \
          "nft add rule ip wall in iifname lan0 udp dport '{ 5351, 1900 }' drop && " \
          "nft add rule ip wall in iifname lan0 tcp dport 5000 drop"
MINIUPNPD_CONF = """ext_ifname=wan0
listening_ip=lan0
http_port=5000
enable_natpmp={natpmp}
enable_upnp=yes
secure_mode=yes
system_uptime=yes
notify_interval=60
uuid=3b1f6a3e-4b6a-4a4f-8c1a-2f0d6a9c1e01
allow 1024-65535 192.168.1.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
"""


class RouterWorld:
    def __init__(self, workdir, layout):
        self.dir, self.layout = Path(workdir), LAYOUTS[layout]
        self.holders, self.miniupnpd, self.resolver = [], None, None

    def __enter__(self):
        try:
            self.mac_prefix, self.internet_prefix = self._box(), self._box()
            if self.layout["wan"] is None:
                self._link(self.mac_prefix, "mac0", f"{PUBLIC}/24", self.internet_prefix, "inet0", f"{INTERNET_GW}/24")
                run_in(self.mac_prefix, f"ip route add default via {INTERNET_GW}")
            else:
                self._wire()
            # The rest of the world refuses at once (the resolver's address, say), rather than staying silent.
            run_in(self.internet_prefix, f"ip addr add {SERVICE}/32 dev lo && ip route add unreachable default && "
                   "sysctl -qw net.ipv4.ip_forward=1")
            self._resolve_nothing()
        except subprocess.CalledProcessError as refused:
            self.__exit__()
            if os.geteuid() == 0:
                raise
            # Without root each namespace has a user namespace of its own, and links between them are refused.
            raise NamespaceRefused(f"{refused.cmd}: {refused.stderr.strip()}") from refused
        except BaseException:
            self.__exit__()
            raise
        return self

    def _wire(self):
        (wan, gateway), self.router_prefix = self.layout["wan"], self._box()
        self._link(self.mac_prefix, "mac0", f"{MAC}/24", self.router_prefix, "lan0", f"{ROUTER_LAN}/24")
        run_in(self.mac_prefix, f"ip route add default via {ROUTER_LAN}")
        up_prefix = self.internet_prefix
        if self.layout["upstream"]:
            up_prefix = self.upstream_prefix = self._box()
            self._link(self.upstream_prefix, "up0", f"{PUBLIC}/24", self.internet_prefix, "inet0", f"{INTERNET_GW}/24")
            run_in(self.upstream_prefix, f"ip route add default via {INTERNET_GW} && "
                   f"sysctl -qw net.ipv4.ip_forward=1 && {MASQUERADE.format(out='up0')}")
        self._link(self.router_prefix, "wan0", f"{wan}/24", up_prefix, "down0" if self.layout["upstream"] else "inet0",
                   f"{gateway}/24")
        run_in(self.router_prefix, f"ip route add default via {gateway} && sysctl -qw net.ipv4.ip_forward=1 && "
               + MASQUERADE.format(out="wan0") + (f" && {SWALLOW}" if self.layout["swallow"] else ""))
        if self.layout["upnp"]:
            self.start_miniupnpd()

    def _resolve_nothing(self):
        """From here on the mac's commands see a resolver on its loopback that refuses every query at once, so that
        no DNS look-up (the daemon's confirmation, say) waits for a time-out; mac_prefix still execs the command."""
        self.resolver = subprocess.Popen([*self.mac_prefix, sys.executable, __file__, "refuse-dns"],
                                         stdout=subprocess.PIPE)
        if self.resolver.stdout.readline() != b"ready\n":
            raise RuntimeError("no resolver on the mac's loopback")
        resolv = self.dir / "resolv.conf"
        resolv.write_text("nameserver 127.0.0.1\n")
        self.mac_prefix = [*self.mac_prefix, "unshare", "-m", "sh", "-c",
                           'mount --bind "$1" /etc/resolv.conf && shift && exec "$@"', "sh", str(resolv)]

    def start_miniupnpd(self):
        conf, log = self.dir / "miniupnpd.conf", self.dir / "miniupnpd.log"
        natpmp = self.layout.get("natpmp", True)
        conf.write_text(MINIUPNPD_CONF.format(natpmp="yes" if natpmp else "no"))
        with open(log, "ab") as out:
            self.miniupnpd = subprocess.Popen([*self.router_prefix, "miniupnpd", "-d", "-f", str(conf), "-P",
                                               str(self.dir / "miniupnpd.pid")], stdin=subprocess.DEVNULL,
                                              stdout=out, stderr=subprocess.STDOUT)
        # Ready once it listens for NAT-PMP/PCP (or, without them, for UPnP) on the router's LAN side.
        listening = f"{ROUTER_LAN}:5351" if natpmp else ":5000"
        for _ in range(200):
            if self.miniupnpd.poll() is not None:
                raise RuntimeError(f"miniupnpd exited: {log.read_text()}")
            if listening in run_in(self.router_prefix, "ss -lnu" if natpmp else "ss -lnt"):
                return
            subprocess.run(["sleep", "0.02"])
        raise RuntimeError(f"miniupnpd does not listen: {log.read_text()}")

    def _box(self):
        holder, prefix = namespace_holder()
        self.holders.append(holder)
        return prefix

    @staticmethod
    def _link(near, near_name, near_address, far, far_name, far_address):
        far_pid = far[far.index("-t") + 1]
        run_in(near, f"ip link add {near_name} type veth peer name {far_name} netns {far_pid} && "
                     f"ip addr add {near_address} dev {near_name} && ip link set {near_name} up")
        run_in(far, f"ip addr add {far_address} dev {far_name} && ip link set {far_name} up")

    def mac(self, script):
        return run_in(self.mac_prefix, script)

    def call(self, fake, path, body=None):
        return call_fake(self.internet_prefix, fake, path, body)

    def __exit__(self, *exc):
        if self.resolver:
            self.resolver.kill()
            self.resolver.wait()
            self.resolver.stdout.close()
        if self.miniupnpd and self.miniupnpd.poll() is None:
            self.miniupnpd.terminate()
            try:
                self.miniupnpd.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.miniupnpd.kill()
                self.miniupnpd.wait()
        for holder in self.holders:
            if holder.poll() is None:
                holder.kill()
                holder.wait()


def refuse_dns():
    """A resolver on the loopback that answers every query REFUSED at once (the daemon's DNS confirmation then
    gives up in a moment instead of waiting for time-outs)."""
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 53))
    print("ready", flush=True)
    while True:
        query, peer = udp.recvfrom(4096)
        if len(query) >= 12:
            udp.sendto(query[:2] + bytes([0x80 | (query[2] & 0x01), 0x80 | 5]) + query[4:], peer)


def main(argv):
    """`routerworld.py LAYOUT -- COMMAND...`: COMMAND inside the mac namespace while the world stands (a benchmark
    that must ask a router, say); its exit status."""
    if argv == ["refuse-dns"]:
        return refuse_dns()
    if len(argv) < 3 or argv[1] != "--" or argv[0] not in LAYOUTS:
        sys.exit(f"usage: routerworld.py {{{','.join(LAYOUTS)}}} -- COMMAND...")
    with tempfile.TemporaryDirectory(prefix="korvane-routerworld-") as work, RouterWorld(work, argv[0]) as world:
        # Where a benchmark puts its fake service (bench/benchlib.py): on the internet, past the router.
        env = dict(os.environ, ROUTERWORLD_INTERNET=" ".join(world.internet_prefix), ROUTERWORLD_SERVICE=SERVICE)
        return subprocess.run([*world.mac_prefix, *argv[2:]], env=env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
