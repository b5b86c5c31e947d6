"""The one HTTPS session of every client, through korvane-http-check against the fake: redirects, credentials,
the idle bound, the TLS backend."""
import json
import os
import subprocess
from pathlib import Path

import pytest

from conftest import CLIENT, mounted, needs_client

pytestmark = needs_client
CHECK = os.environ.get("KORVANE_HTTP_CHECK") or str(Path(CLIENT or ".").parents[1] / "tests/korvane-http-check")


def moved(location, times=1):
    """Redirects of every kind the session follows, in turn."""
    return [{"status": s, "body": "", "headers": {"Location": location}} for s in [302, 301, 303, 307, 308, 302][:times]]


# Fake settings ({f}: its address, {p}: its port), whether credentials are given, the idle bound in ms; what
# comes out, and for each request the fake saw, whether it carried credentials.
@pytest.mark.parametrize("control, auth, idle, out, seen", [
    ({"ip4": moved("{f}/ip4", 5)}, False, 10000, "200 203.0.113.7\n", [False] * 6),
    ({"ip4": moved("{f}/ip4", 6)}, False, 10000, "error: Maximum (5) redirects followed\n", [False] * 6),
    # To the first host and port only: not to the same server under another name.
    ({"ip4": moved("{f}/ip4b"), "ip4b": moved("https://localhost:{p}/ip6")}, True, 10000, "200 2001:db8::7\n",
     [True, True, False]),
    # An answer that pauses for longer than the idle bound ends there, long before the total bound.
    ({"ip4": {"stallBody": 3}}, False, 500, "error: Timeout was reached: no data received for 500 milliseconds\n",
     [False]),
])
def test_session(fake_service, control, auth, idle, out, seen):
    f = fake_service.base_url
    fake_service.control(json.loads(json.dumps(control).replace("{f}", f).replace("{p}", str(fake_service.port))))
    done = subprocess.run([CHECK, f + "/ip4", str(idle), "20000", *(["home", "secret"] if auth else [])],
                          # Not the administrator's to choose: Secure Transport, the other backend of Apple's libcurl,
                          # would refuse every request; a proxy from the environment would see the key.
                          env={**os.environ, "SSL_CERT_FILE": fake_service.ca_file, "CURL_SSL_BACKEND": "secure-transport",
                               "https_proxy": "http://127.0.0.1:9", "ALL_PROXY": "http://127.0.0.1:9"},
                          capture_output=True, timeout=60)
    assert done.stdout.decode() == out
    assert [any(k.lower() == "authorization" for k, _ in r["headers"]) for r in fake_service.requests()] == seen


def test_a_named_bundle_is_the_only_trust(fake_service, tmp_path):
    """The bundle SSL_CERT_FILE names replaces libcurl's built-in directory, which here trusts the fake."""
    ca_hash = subprocess.run(["openssl", "x509", "-hash", "-noout", "-in", fake_service.ca_file],
                             capture_output=True, text=True, check=True).stdout.strip()
    (tmp_path / f"{ca_hash}.0").write_bytes(Path(fake_service.ca_file).read_bytes())
    other = "/usr/share/ca-certificates/mozilla/ISRG_Root_X1.crt"
    done = subprocess.run([*mounted(tmp_path, "/etc/ssl/certs"), CHECK, fake_service.base_url + "/ip4", "5000", "5000"],
                          env={**os.environ, "SSL_CERT_FILE": other}, capture_output=True, timeout=60)
    assert done.stdout == b"error: SSL certificate problem: unable to get local issuer certificate\n"
    assert fake_service.requests() == []
