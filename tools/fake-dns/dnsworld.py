"""A network and mount namespace of its own with a real authoritative name server (knot) on its loopback and
an /etc/resolv.conf that names it: the world in which the daemon's DNS confirmation is tested and measured.

    with DnsWorld(workdir, records) as world:   # raises NamespaceRefused where namespaces are not allowed
        world.run(["kdig", ...]); world.publish("home.example.net", ["203.0.113.7"])
        world.prefix  # put in front of a program to run it inside

The zone is example.net; its name server ns1 sits at the address given (127.0.0.1, where knot listens, or a
silent one). `world.publisher` is a program that fake-dyndns --on-good can call to publish an update. With
`stalled_resolver` the resolv.conf names instead a resolver at 127.0.0.2 that answers every UDP query truncated
and holds every TCP connection without a word."""
import os
import selectors
import socket
import subprocess
import sys
import time
from pathlib import Path

ZONE = "example.net"
KNOTD, KNOTC = "/usr/sbin/knotd", "/usr/sbin/knotc"
STALLED = "127.0.0.2"
DNSWORLD = Path(__file__).resolve()


class NamespaceRefused(RuntimeError):
    pass


def _stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class DnsWorld:
    def __init__(self, workdir, records, ns_address="127.0.0.1", stalled_resolver=False):
        self.dir = Path(workdir)
        (self.dir / "db").mkdir(parents=True, exist_ok=True)
        self.stalled_resolver = stalled_resolver
        resolver = STALLED if stalled_resolver else "127.0.0.1"
        (self.dir / "resolv.conf").write_text(f"nameserver {resolver}\noptions attempts:1 timeout:2\n")
        zone = [f"$ORIGIN {ZONE}.", "$TTL 3600", "@ SOA ns1 hostmaster 1 3600 600 86400 60", "@ NS ns1",
                f"ns1 A {ns_address}", *records]
        (self.dir / f"{ZONE}.zone").write_text("\n".join(zone) + "\n")
        (self.dir / "knot.conf").write_text(f"""server:
    listen: 127.0.0.1@53
    rundir: {self.dir}
database:
    storage: {self.dir}/db
control:
    listen: {self.dir}/knot.sock
log:
  - target: stderr
    any: error
mod-stats:
  - id: default
    request-protocol: on
template:
  - id: default
    global-module: mod-stats/default
acl:
  - id: local
    address: 127.0.0.0/8
    action: update
zone:
  - domain: {ZONE}
    storage: {self.dir}
    file: {ZONE}.zone
    zonefile-sync: -1
    acl: local
""")
        self.publisher = self.dir / "publish"
        self.publisher.write_text(f"#!/bin/sh\nexec {sys.executable} {Path(__file__).resolve()} publish \"$@\"\n")
        self.publisher.chmod(0o755)
        self.holder = self.knot = self.stall = None

    def __enter__(self):
        root = os.geteuid() == 0
        setup = f"mount --bind {self.dir}/resolv.conf /etc/resolv.conf && ip link set lo up && exec sleep 3600"
        self.holder = subprocess.Popen(["unshare", *(["-n", "-m"] if root else ["-r", "-n", "-m"]), "--", "sh",
                                        "-c", setup], stderr=subprocess.PIPE)
        own, deadline = os.readlink("/proc/self/ns/net"), time.monotonic() + 5
        while time.monotonic() < deadline:
            if self.holder.poll() is not None:
                raise NamespaceRefused(self.holder.stderr.read().decode().strip())
            try:
                if os.readlink(f"/proc/{self.holder.pid}/ns/net") != own and Path(
                        f"/proc/{self.holder.pid}/cmdline").read_bytes().startswith(b"sleep"):
                    break
            except OSError:
                pass
            time.sleep(0.01)
        self.prefix = ["nsenter", "-t", str(self.holder.pid), "-n", "-m",
                       *([] if root else ["-U", "--preserve-credentials"])]
        self.knot = subprocess.Popen([*self.prefix, KNOTD, "-c", str(self.dir / "knot.conf")],
                                     stdin=subprocess.DEVNULL)
        if self.stalled_resolver:
            self.stall = subprocess.Popen([*self.prefix, sys.executable, str(Path(__file__).resolve()), "stall"],
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            self.stall.stdout.readline()  # listening
        while self.run([KNOTC, "-s", str(self.dir / "knot.sock"), "zone-status", ZONE]).returncode != 0:
            if self.knot.poll() is not None or time.monotonic() > deadline + 10:
                self.__exit__()
                raise RuntimeError("knotd did not start")
            time.sleep(0.05)
        return self

    def run(self, command, **options):
        return subprocess.run([*self.prefix, *command], capture_output=True, text=True, **options)

    def publish(self, host, addresses):
        """Replaces the host's A and AAAA records by a dynamic update, as a service's DNS does."""
        self.run([str(self.publisher), host, *addresses], check=True)

    def queries(self):
        """How many queries (not updates) the server has answered, over UDP and TCP; each is two packets."""
        text = self.run([KNOTC, "-s", str(self.dir / "knot.sock"), "stats", "mod-stats.server-operation"]).stdout
        return sum(int(line.rsplit("=", 1)[1]) for line in text.splitlines() if "[query]" in line)

    def __exit__(self, *exc):
        for process in (self.stall, self.knot, self.holder):
            if process:
                _stop(process)


def publish_main(host, *addresses):
    """Run inside the namespace: `publish HOST [ADDRESS...]` (empty words are skipped)."""
    lines = ["server 127.0.0.1", f"zone {ZONE}.", f"update delete {host}. A", f"update delete {host}. AAAA"]
    lines += [f"update add {host}. 60 {'AAAA' if ':' in a else 'A'} {a}" for a in addresses if a]
    done = subprocess.run(["knsupdate"], input="\n".join([*lines, "send", ""]), text=True)
    return done.returncode


def stall_main(address=STALLED):
    """Run inside the namespace (or at an address of the caller's choice): the stalled resolver, until killed."""
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind((address, 53))
    tcp = socket.create_server((address, 53), backlog=64)
    watch, held = selectors.DefaultSelector(), []
    watch.register(udp, selectors.EVENT_READ)
    watch.register(tcp, selectors.EVENT_READ)
    print("listening", flush=True)
    while True:
        for key, _ in watch.select():
            if key.fileobj is tcp:
                held.append(tcp.accept()[0])
                continue
            query, peer = udp.recvfrom(4096)
            if len(query) > 12:  # the question back, flagged a truncated reply (QR, TC; RA)
                udp.sendto(query[:2] + bytes([query[2] | 0x82, 0x80]) + query[4:], peer)


if __name__ == "__main__" and sys.argv[1:2] == ["publish"]:
    sys.exit(publish_main(*sys.argv[2:]))
if __name__ == "__main__" and sys.argv[1:2] == ["stall"]:
    stall_main(*sys.argv[2:3])
