"""What the benchmark scripts share: paths, the fake service, building the small C helpers, trust stores,
machine facts and the load check. Standard library only (run with /usr/bin/python3)."""
import base64
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent
RESULTS = BENCH / "results"
sys.path.insert(0, str(REPO / "tests/process"))

from fakeservice import FakeService  # noqa: E402  (the fake's own starter and control client)

HOSTNAME = "home.example.net"
API_KEY = "dyndns_testkey123456"
ECHO_IPV4 = "203.0.113.7"
SYSTEM_BUNDLE = Path("/etc/ssl/certs/ca-certificates.crt")
SYSTEM_CERT_DIR = Path("/etc/ssl/certs")


def fake_service(state_dir, *args):
    """The fake for a benchmark: on this machine's loopback, or, for a benchmark run by the router world's runner
    (tools/fake-router/routerworld.py), on its internet, so that the daemon's way to the echo leads through the
    router it asks."""
    internet, service = os.environ.get("ROUTERWORLD_INTERNET"), os.environ.get("ROUTERWORLD_SERVICE")
    if internet and service:
        return FakeService(state_dir, *args, "--listen", service, launcher=internet.split())
    return FakeService(state_dir, *args)


def default_client():
    return Path(os.environ.get("KORVANE_CLIENT") or REPO / "build/bench/client/korvane-client")


def basic_auth():
    return "Basic " + base64.b64encode(f"{HOSTNAME}:{API_KEY}".encode()).decode()


def scratch_directory(prefix):
    return Path(tempfile.mkdtemp(prefix=prefix))


def compile_c(source, output, libraries=()):
    """cc -O2, outside the CMake build: the helpers are not part of the product."""
    subprocess.run(["cc", "-O2", "-Wall", "-Wextra", "-o", str(output), str(source), *libraries], check=True)
    return output


def clean_environment(**extra):
    """The parent's environment without anything that would steer the programs' trust or paths."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("KORVANE_", "SSL_CERT_", "CURL_", "LD_")) and k not in ("http_proxy", "https_proxy")}
    env.update({k: str(v) for k, v in extra.items() if v is not None})
    return env


def write_client_config(config_dir, base_url, interval_minutes=1, ipv6_url=None):
    """config.json as `configure` writes it (mode 0600), with the discovery URL on the fake; IPv6 too when
    its echo's URL is given."""
    config_dir.mkdir(parents=True, exist_ok=True)
    config = {
        "apiKey": API_KEY,
        "enableIpv4": True,
        "enableIpv6": ipv6_url is not None,
        "hostname": HOSTNAME,
        "ipv4DiscoveryUrls": [base_url + "/ip4"],
        "ipv6DiscoveryUrls": [ipv6_url] if ipv6_url else [],
        "updateIntervalMinutes": interval_minutes,
    }
    path = config_dir / "config.json"
    path.write_text(json.dumps(config, indent=2, sort_keys=True))
    path.chmod(0o600)
    return path


def inadyn_config(path, fake, ca_file, period=None):
    """A custom dyndns2 provider on the fake, HTTPS for checkip and update, verification against the CA."""
    lines = []
    if period is not None:
        lines.append(f"period = {period}")
    lines += [
        "verify-address = false",  # the echo answers a documentation address
        "secure-ssl = true",
        f"ca-trust-file = {ca_file}",
        "custom bench {",
        "    ssl = true",
        f"    username = {HOSTNAME}",
        f"    password = {API_KEY}",
        f"    hostname = {HOSTNAME}",
        f"    ddns-server = {fake.host}:{fake.port}",
        '    ddns-path = "/nic/update?hostname=%h&myip=%i"',
        f"    checkip-server = {fake.host}:{fake.port}",
        "    checkip-path = /ip4",
        "    checkip-ssl = true",
        "}",
    ]
    path.write_text("\n".join(lines) + "\n")
    path.chmod(0o600)
    return path


def ddclient_config(path, fake, daemon_seconds=0):
    """dyndns2 at the fake. Over whatever scheme the fake speaks (see ddclient_transport_note)."""
    https = fake.base_url.startswith("https:")
    lines = [
        f"daemon={daemon_seconds}",
        "syslog=no",
        f"ssl={'yes' if https else 'no'}",
    ]
    if https:
        lines.append(f"ssl_ca_file={fake.ca_file}")
    lines += [
        f"use=web, web={fake.base_url}/ip4",
        "protocol=dyndns2",
        f"server={fake.host}:{fake.port}",
        f"login={HOSTNAME}",
        f"password={API_KEY}",
        HOSTNAME,
    ]
    path.write_text("\n".join(lines) + "\n")
    path.chmod(0o600)
    return path


def ddclient_can_https():
    """Debian's ddclient 3.10 speaks HTTPS only through the Perl module IO::Socket::SSL (its curl mode
    reports "curl not found" here although /usr/bin/curl exists)."""
    probe = subprocess.run(["perl", "-MIO::Socket::SSL", "-e", "1"], capture_output=True)
    return probe.returncode == 0


def count_certificates(pem_path):
    return Path(pem_path).read_text(errors="replace").count("-----BEGIN CERTIFICATE-----")


def make_trust_stores(directory, fake_ca):
    """Debian's bundle plus the fake's CA as one file, and a hashed directory with the same roots."""
    directory.mkdir(parents=True, exist_ok=True)
    bundle = directory / "bundle.pem"
    bundle.write_text(SYSTEM_BUNDLE.read_text() + "\n" + Path(fake_ca).read_text())
    hashed = directory / "certs"
    hashed.mkdir(exist_ok=True)
    copied = 0
    for entry in sorted(SYSTEM_CERT_DIR.iterdir()):
        if entry.name == SYSTEM_BUNDLE.name or not entry.name.endswith((".pem", ".crt")):
            continue
        if not entry.is_file():
            continue
        shutil.copyfile(entry, hashed / entry.name)
        copied += 1
    shutil.copyfile(fake_ca, hashed / "fake-dyndns-ca.pem")
    subprocess.run(["openssl", "rehash", str(hashed)], check=True, capture_output=True)
    return {"bundle": bundle, "bundleCerts": count_certificates(bundle), "dir": hashed, "dirCerts": copied + 1}


def loadavg():
    return os.getloadavg()


def wait_until_quiet(limit, max_wait, label=""):
    """Waits (at most max_wait seconds) until the 1-minute load average is below limit."""
    deadline = time.monotonic() + max_wait
    while os.getloadavg()[0] >= limit and time.monotonic() < deadline:
        time.sleep(5)
    load = os.getloadavg()
    if load[0] >= limit:
        print(f"{label}warning: load average {load[0]:.2f} is not below {limit}; figures may be noisy",
              file=sys.stderr)
    return load


def command_output(argv):
    try:
        result = subprocess.run(argv, capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"({error})"
    return (result.stdout or result.stderr).strip().splitlines()[0] if (result.stdout or result.stderr) else ""


def machine_facts(client):
    facts = {
        "korvane-client version": command_output([str(client), "version"]),
        "inadyn --version": command_output(["inadyn", "--version"]),
        "ddclient (no version option; Debian package)": command_output(
            ["dpkg-query", "-W", "-f", "${Version}", "ddclient"]),
        "curl-config --version": command_output(["curl-config", "--version"]),
        "openssl version": command_output(["openssl", "version"]),
        "python3 (fake service)": command_output(["/usr/bin/python3", "--version"]),
        "nproc": command_output(["nproc"]),
        "uname -r": command_output(["uname", "-r"]),
    }
    tls = subprocess.run(["ldd", shutil.which("inadyn") or "/usr/sbin/inadyn"], capture_output=True, text=True).stdout
    facts["inadyn TLS library"] = "GnuTLS" if "gnutls" in tls else ("OpenSSL" if "libssl" in tls else "unknown")
    return facts


def median(values):
    return statistics.median(values) if values else float("nan")


def facts_markdown(facts):
    return "\n".join(f"| {k} | {v} |" for k, v in facts.items())


def update_requests(log):
    return [r for r in log if r["path"] == "/nic/update"]


def header(request, name):
    for key, value in request["headers"]:
        if key.lower() == name.lower():
            return value
    return None
