"""Three network namespaces for the tests of discovery beside a VPN: "mac" (where the client runs), "internet"
(where the fake service listens, at SERVICE) and "vpn" (the VPN server), joined by veths, and a tunnel from
mac to vpn: a `tun` device at each end whose packets a relay process (this file, run as `relay`) carries.
What reaches the internet through the tunnel comes from the tunnel's own address (TUNNEL); what goes out
directly comes from the mac's veth (PHYSICAL).

    with VpnWorld(workdir, "full") as world:   # raises NamespaceRefused where namespaces or tun are refused
        subprocess.run([*world.prefix("mac"), program, ...])

Layouts of the mac's routes (LAYOUTS): a full tunnel beside the physical default at a higher metric, the same
with a kill switch for whatever is sent past the tunnel, the same beside a network without a way out, a split tunnel, wg-quick's firewall-mark rules, and
OpenVPN's 0/1 + 128/1 pair. The kill switch needs nft."""
import fcntl
import os
import select
import struct
import subprocess
import sys
from pathlib import Path

SERVICE, PHYSICAL, TUNNEL = "198.51.100.80", "10.1.0.2", "10.8.0.2"
LAYOUTS = {
    "full": ["route add default dev vpn0 metric 10", "route add default via 10.1.0.1 dev phys0 metric 100"],
    "blocked": ["route add default dev vpn0 metric 10", "route add default via 10.1.0.1 dev phys0 metric 100",
                "nft add table ip killswitch", "nft add chain ip killswitch out { type filter hook output priority 0 ; }",
                "nft add rule ip killswitch out oifname phys0 meta l4proto tcp reject with tcp reset"],
    "split": ["route add 10.99.0.0/16 dev vpn0", "route add default via 10.1.0.1 dev phys0"],
    "fwmark": ["route add default dev vpn0 table 51820", "rule add not fwmark 51820 table 51820 pref 100",
               "rule add table main suppress_prefixlength 0 pref 99", "route add default via 10.1.0.1 dev phys0"],
    # A second network without a way out (a bridge, a lab LAN), its own route sorting first.
    "lan": ["route add default dev vpn0 metric 10", "route add default via 10.1.0.1 dev phys0 metric 100",
            "link add lan0 type veth peer name lan1", "link set lan1 up", "addr add 10.0.5.2/24 dev lan0",
            "link set lan0 up"],
    "def1": ["route add 0.0.0.0/1 dev vpn0", "route add 128.0.0.0/1 dev vpn0",
             "route add default via 10.1.0.1 dev phys0"],
}
TUNSETIFF, IFF_TUN, IFF_NO_PI = 0x400454CA, 0x0001, 0x1000


class NamespaceRefused(RuntimeError):
    pass


class VpnWorld:
    def __init__(self, workdir, layout):
        self.dir, self.layout = Path(workdir), layout
        self.names = {side: f"kv{os.getpid()}{side}" for side in ("mac", "internet", "vpn")}
        self.relay = None

    def prefix(self, side):
        return ["ip", "netns", "exec", self.names[side]]

    def ip(self, side, command):
        done = subprocess.run([*self.prefix(side), "ip", *command.split()], capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"ip {command} in {side}: {done.stderr.strip()}")

    def __enter__(self):
        if os.geteuid() != 0:
            raise NamespaceRefused("needs root for ip netns")
        for name in self.names.values():
            done = subprocess.run(["ip", "netns", "add", name], capture_output=True, text=True)
            if done.returncode != 0:
                self.__exit__()
                raise NamespaceRefused(done.stderr.strip())
        try:
            self._wire()
        except BaseException:
            self.__exit__()
            raise
        return self

    def _wire(self):
        mac, internet, vpn = (self.names[s] for s in ("mac", "internet", "vpn"))
        for side in self.names:
            self.ip(side, "link set lo up")
        self.ip("mac", f"link add phys0 type veth peer name tomac netns {internet}")
        self.ip("vpn", f"link add out0 type veth peer name tovpn netns {internet}")
        self.relay = subprocess.Popen([*self.prefix("mac"), sys.executable, __file__, "relay", vpn],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if self.relay.stdout.readline() != b"ready\n":
            raise NamespaceRefused(f"no tunnel: {self.relay.stderr.read().decode().strip()}")
        for command in ("addr add 10.1.0.2/24 dev phys0", "link set phys0 up",
                        "addr add 10.8.0.2 peer 10.8.0.1 dev vpn0", "link set vpn0 up"):
            self.ip("mac", command)
        for command in ("addr add 10.2.0.2/24 dev out0", "link set out0 up",
                        "addr add 10.8.0.1 peer 10.8.0.2 dev vpn0", "link set vpn0 up",
                        "route add default via 10.2.0.1"):
            self.ip("vpn", command)
        for command in ("addr add 10.1.0.1/24 dev tomac", "link set tomac up", "addr add 10.2.0.1/24 dev tovpn",
                        "link set tovpn up", f"addr add {SERVICE}/32 dev lo", "route add 10.8.0.0/24 via 10.2.0.2"):
            self.ip("internet", command)
        subprocess.run([*self.prefix("vpn"), "sysctl", "-qw", "net.ipv4.ip_forward=1"], check=True)
        for command in LAYOUTS[self.layout]:
            if command.startswith("nft "):
                subprocess.run([*self.prefix("mac"), "nft", command[4:]], check=True)
            else:
                self.ip("mac", command)

    def __exit__(self, *exc):
        if self.relay and self.relay.poll() is None:
            self.relay.terminate()
            self.relay.wait()
        for name in self.names.values():
            subprocess.run(["ip", "netns", "delete", name], capture_output=True)


def open_tun(name):
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    return fd


def relay_main(vpn_namespace):
    """Run inside the mac namespace: makes vpn0 here and a second tun moved into the VPN's namespace as its
    vpn0, then carries every packet from one to the other until it is stopped."""
    try:
        here, there = open_tun("vpn0"), open_tun("vpnpeer")
        subprocess.run(["ip", "link", "set", "vpnpeer", "netns", vpn_namespace, "name", "vpn0"], check=True,
                       capture_output=True)
    except (OSError, subprocess.CalledProcessError) as refused:
        sys.stderr.write(f"{refused}\n")
        return 1
    print("ready", flush=True)
    other = {here: there, there: here}
    while True:
        for fd in select.select([here, there], [], [])[0]:
            packet = os.read(fd, 65536)
            try:
                os.write(other[fd], packet)
            except OSError:
                pass  # the other end is not up yet: the packet is lost, as on a real link


if __name__ == "__main__" and sys.argv[1:2] == ["relay"]:
    sys.exit(relay_main(sys.argv[2]))
