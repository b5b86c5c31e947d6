"""Two network namespaces joined by a veth pair: "mac", the machine under test (mac0, the global prefix
2001:db8:1::/64 and a default route), and "internet" (inet0, the router's 2001:db8:1::1, and a service address
2001:db8:2::1 that is one hop away). No duplicate address detection, so addresses are usable at once; the
machine prefers temporary addresses (use_tempaddr=2) as macOS does.

    with InternetWorld() as world:   # raises NamespaceRefused where namespaces are not allowed
        world.mac("ip addr add 2001:db8:1::a/64 dev mac0 mngtmpaddr")
        world.mac_prefix, world.internet_prefix   # put in front of a program to run it inside
        world.call(fake, "/_control", {...})      # the fake's control API, from inside the internet
"""
import json
import os
import subprocess
import sys
import time

ROUTER, SERVICE = "2001:db8:1::1", "2001:db8:2::1"
QUIET = "sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0"
# Runs inside the internet namespace: one request to the fake, its JSON answer on stdout.
CALL = """import json, ssl, sys, urllib.request
body = sys.argv[3].encode() if len(sys.argv) > 3 else None
context = ssl.create_default_context(cafile=sys.argv[2])
print(urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=body), context=context, timeout=10).read().decode())
"""


class NamespaceRefused(RuntimeError):
    pass


def namespace_holder():
    """A process alone in a new network namespace, and the prefix that runs a command beside it."""
    root = os.geteuid() == 0
    holder = subprocess.Popen(["unshare", *(["-n"] if root else ["-r", "-n"]), "--", "sh", "-c",
                               "ip link set lo up && exec sleep 3600"], stderr=subprocess.PIPE)
    own, deadline = os.readlink("/proc/self/ns/net"), time.monotonic() + 5
    while time.monotonic() < deadline:
        if holder.poll() is not None:
            raise NamespaceRefused(holder.stderr.read().decode().strip())
        try:
            if os.readlink(f"/proc/{holder.pid}/ns/net") != own and \
                    open(f"/proc/{holder.pid}/cmdline", "rb").read().startswith(b"sleep"):
                return holder, ["nsenter", "-t", str(holder.pid), "-n",
                                *([] if root else ["-U", "--preserve-credentials"])]
        except OSError:
            pass
        time.sleep(0.01)
    holder.kill()
    raise NamespaceRefused("the namespace did not come up")


def run_in(prefix, script):
    """A shell script run beside a namespace's holder; its stdout, or CalledProcessError."""
    done = subprocess.run([*prefix, "sh", "-c", script], capture_output=True, text=True)
    if done.returncode != 0:
        raise subprocess.CalledProcessError(done.returncode, script, done.stdout, done.stderr)
    return done.stdout


def call_fake(prefix, fake, path, body=None):
    """A call to the fake's control API (tools/fake-dyndns/README.md) from inside the fake's namespace."""
    args = [sys.executable, "-c", CALL, fake.url(path), fake.ca_file, *([json.dumps(body)] if body is not None else [])]
    return json.loads(subprocess.run([*prefix, *args], capture_output=True, check=True).stdout)


class InternetWorld:
    def __init__(self):
        self.holders = []

    def __enter__(self):
        try:
            (mac, self.mac_prefix), (internet, self.internet_prefix) = self._start(), self._start()
            self.internet(f"{QUIET} && ip link set lo up")
            self.mac(f"{QUIET} net.ipv6.conf.default.use_tempaddr=2 && "
                     f"ip link add mac0 type veth peer name inet0 netns {internet.pid} && ip link set mac0 up")
            self.internet(f"sysctl -qw net.ipv6.conf.inet0.accept_dad=0 && ip link set inet0 up && "
                          f"ip addr add {ROUTER}/64 dev inet0 nodad && ip addr add {SERVICE}/128 dev inet0 nodad")
            self.mac(f"ip -6 route add default via {ROUTER} dev mac0 onlink")
        except (subprocess.CalledProcessError, NamespaceRefused):
            self.__exit__()
            raise
        return self

    def _start(self):
        holder, prefix = namespace_holder()
        self.holders.append(holder)
        return holder, prefix

    def mac(self, script):
        return run_in(self.mac_prefix, script)

    def internet(self, script):
        return run_in(self.internet_prefix, script)

    def call(self, fake, path, body=None):
        return call_fake(self.internet_prefix, fake, path, body)

    def addresses(self, **flag):
        """The machine's global IPv6 addresses on mac0 (with `temporary=True`, say, only those)."""
        shown = json.loads(self.mac("ip -6 -j addr show dev mac0 scope global"))
        return [a["local"] for link in shown for a in link["addr_info"]
                if all(a.get(name, False) == value for name, value in flag.items())]

    def source(self):
        """The address the kernel would send from towards the service, left to itself."""
        return json.loads(self.mac(f"ip -6 -j route get {SERVICE}"))[0]["prefsrc"]

    def __exit__(self, *exc):
        for holder in self.holders:
            if holder.poll() is None:
                holder.kill()
                holder.wait()
