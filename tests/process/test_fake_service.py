"""The fake DynDNS service itself: the peer every process test relies on."""
import base64
import hashlib
import http.client
import json
import socket
import statistics
import subprocess
import time
from urllib.parse import urlsplit

import pytest

from fakeservice import FakeService

HOST, KEY = "home.example.net", "dyndns_testkey123456"


def basic(user, password):
    return "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


def connect(service, timeout=5, server_hostname=None):
    context = service.ssl_context()
    connection = http.client.HTTPSConnection("127.0.0.1", service.port, timeout=timeout, context=context)
    if server_hostname:
        connection.sock = context.wrap_socket(socket.create_connection(("127.0.0.1", service.port), timeout),
                                              server_hostname=server_hostname)
    return connection


def get(service, path, headers=None, timeout=5):
    connection = connect(service, timeout)
    try:
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read().decode(), response
    finally:
        connection.close()


def update(service, query, auth=basic(HOST, KEY)):
    return get(service, "/nic/update?" + query, {"Authorization": auth, "User-Agent": "RuzEdaRoredo-macOS/0.24.0"})


def test_update_checks_auth_records_addresses_and_logs_every_request(fake_service):
    query = f"hostname={HOST}&myipv6=2001:db8::1&myip=192.0.2.1"
    assert update(fake_service, query)[:2] == (200, "good 192.0.2.1")
    assert update(fake_service, query)[:2] == (200, "nochg 192.0.2.1")
    assert update(fake_service, f"hostname={HOST}&myip=192.0.2.2")[:2] == (200, "good 192.0.2.2")
    assert update(fake_service, f"hostname={HOST}&myipv6=2001:DB8:0::1")[:2] == (200, "nochg 2001:DB8:0::1")
    status, body, response = update(fake_service, query, auth=basic(HOST, "wrong"))
    assert (status, body) == (401, "badauth")
    assert response.getheader("WWW-Authenticate", "").startswith("Basic")
    assert get(fake_service, "/nic/update?" + query)[:2] == (401, "badauth")
    assert update(fake_service, "hostname=other.example.net&myip=192.0.2.1", auth=basic(HOST, KEY))[1] == "nohost"
    assert fake_service.settings()["records"] == {HOST: {"myip": "192.0.2.2", "myipv6": "2001:db8::1"}}

    log = fake_service.requests("/nic/update")
    assert len(log) == 7
    first = log[0]
    assert first["method"] == "GET" and first["query"] == query
    assert first["params"] == [["hostname", HOST], ["myipv6", "2001:db8::1"], ["myip", "192.0.2.1"]]
    headers = dict(first["headers"])
    assert headers["Authorization"] == basic(HOST, KEY)
    assert headers["User-Agent"] == "RuzEdaRoredo-macOS/0.24.0"
    assert "Authorization" not in dict(log[5]["headers"])


def test_credentials_come_from_control(fake_service):
    fake_service.control(hostname="nas.example.org", apiKey="")
    assert update(fake_service, "hostname=nas.example.org&myip=192.0.2.9",
                  auth=basic("nas.example.org", ""))[:2] == (200, "good 192.0.2.9")
    assert update(fake_service, f"hostname={HOST}&myip=192.0.2.9")[:2] == (401, "badauth")


def test_overrides_replace_word_status_and_body_once_or_sticky(fake_service):
    query = f"hostname={HOST}&myip=192.0.2.1"
    fake_service.control(update=[{"body": "911", "status": 500}, {"body": "", "status": 401},
                                 {"status": 500}, {"body": "dnserr", "sticky": True}])
    assert update(fake_service, query)[:2] == (500, "911")
    assert update(fake_service, query)[:2] == (401, "")
    assert update(fake_service, query)[:2] == (500, "good 192.0.2.1")  # own answer, other status
    assert update(fake_service, query)[:2] == (200, "dnserr")
    assert update(fake_service, query)[:2] == (200, "dnserr")
    fake_service.control(update=None)
    assert update(fake_service, query)[:2] == (200, "nochg 192.0.2.1")

    fake_service.control(update={"cycle": [{"body": "good {ip}"}, {"body": "911"}]})
    answers = [update(fake_service, f"hostname={HOST}&myipv6=2001:db8::5")[1] for _ in range(4)]
    assert answers == ["good 2001:db8::5", "911"] * 2


def test_echo_endpoints_answer_settable_texts_and_faults(fake_service):
    assert get(fake_service, "/ip4")[:2] == (200, "203.0.113.7\n")
    assert get(fake_service, "/ip6")[:2] == (200, "2001:db8::7\n")
    fake_service.control(ip4={"status": 500, "body": "<html>down</html>", "contentType": "text/html",
                              "sticky": True},
                         ip6b="2001:db8::99\n", ip6={"oversize": 100000})
    for _ in range(2):
        status, body, response = get(fake_service, "/ip4")
        assert (status, body, response.getheader("Content-Type")) == (500, "<html>down</html>", "text/html")
    assert get(fake_service, "/ip4b")[:2] == (200, "203.0.113.7\n")
    assert get(fake_service, "/ip6b")[1] == "2001:db8::99\n"
    body = get(fake_service, "/ip6")[1]
    assert len(body) == 100000 and body.startswith("2001:db8::7\n2001:db8::7\n")
    assert get(fake_service, "/ip6")[1] == "2001:db8::7\n"


def fetch_bytes(service, url):
    connection = connect(service)
    try:
        connection.request("GET", urlsplit(url).path)
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def test_manifest_names_the_served_package_with_its_digest(fake_service):
    status, body, response = get(fake_service, "/downloads/macos/latest.json")
    manifest = json.loads(body)
    assert status == 200 and response.getheader("Content-Type") == "application/json"
    assert manifest["version"] == "0.25.0" and manifest["mandatory"] is False
    assert manifest["url"].startswith(fake_service.base_url + "/downloads/macos/")
    status, package = fetch_bytes(fake_service, manifest["url"])
    assert status == 200 and len(package) > 0
    assert hashlib.sha256(package).hexdigest() == manifest["sha256"]

    new_package = b"\x00pkg bytes\xff" * 3
    fake_service.control(packageBase64=base64.b64encode(new_package).decode(),
                         manifest={"version": "0.26.0", "notes": None, "extra": 1})
    manifest = json.loads(get(fake_service, "/downloads/macos/latest.json")[1])
    assert manifest["sha256"] == hashlib.sha256(new_package).hexdigest()
    assert manifest["url"].endswith("/RuzEdaRoredo-0.26.0.pkg") and "notes" not in manifest
    assert manifest["extra"] == 1
    assert fetch_bytes(fake_service, manifest["url"]) == (200, new_package)

    fake_service.control(manifest={"sha256": "0" * 64, "url": "http://127.0.0.1/x.pkg"},
                         latest=[{}, {"status": 404, "body": "<html>Not Found</html>", "contentType": "text/html"}])
    manifest = json.loads(get(fake_service, "/downloads/macos/latest.json")[1])
    assert (manifest["sha256"], manifest["url"]) == ("0" * 64, "http://127.0.0.1/x.pkg")
    assert get(fake_service, "/downloads/macos/latest.json")[:2] == (404, "<html>Not Found</html>")
    assert json.loads(get(fake_service, "/downloads/macos/latest.json")[1])["version"] == "0.26.0"


def test_stalls_are_honoured_before_the_answer_and_inside_the_body(fake_service):
    fake_service.control(update={"stall": 0.6}, pkg={"stallBody": 0.6})
    started = time.monotonic()
    with pytest.raises(TimeoutError):
        get(fake_service, f"/nic/update?hostname={HOST}&myip=192.0.2.1", {"Authorization": basic(HOST, KEY)},
            timeout=0.2)
    assert time.monotonic() - started < 0.5
    # One-shot: the next request is answered at once, and the stalled one was still recorded.
    assert update(fake_service, f"hostname={HOST}&myip=192.0.2.1")[:2] == (200, "nochg 192.0.2.1")

    connection = connect(fake_service, timeout=0.2)
    connection.request("GET", "/downloads/macos/x.pkg")
    response = connection.getresponse()  # the headers come at once
    assert response.status == 200 and int(response.getheader("Content-Length")) > 0
    with pytest.raises(TimeoutError):
        response.read()
    connection.close()


def test_drop_closes_without_an_answer(fake_service):
    fake_service.control(ip4={"drop": True})
    with pytest.raises(http.client.RemoteDisconnected):
        get(fake_service, "/ip4")
    assert get(fake_service, "/ip4")[1] == "203.0.113.7\n"


def test_keep_alive_answers_come_without_delayed_ack_stalls(fake_service):
    connection = connect(fake_service)
    connection.request("GET", "/ip4")
    connection.getresponse().read()
    sock, times = connection.sock, []
    for i in range(20):
        path = "/ip4" if i % 2 else f"/nic/update?hostname={HOST}&myip=192.0.2.1"
        started = time.perf_counter()
        connection.request("GET", path, headers={"Authorization": basic(HOST, KEY)})
        response = connection.getresponse()
        assert response.status == 200 and response.read()
        times.append(time.perf_counter() - started)
        assert connection.sock is sock  # the same connection throughout
    connection.close()
    assert statistics.median(times) < 0.02, times


def test_each_response_is_written_in_one_piece(fake_service):
    # One write becomes one TLS record, so the first read holds status line, headers and body.
    with fake_service.ssl_context().wrap_socket(socket.create_connection(("127.0.0.1", fake_service.port), 5),
                                                server_hostname="127.0.0.1") as tls:
        for path in ("/ip4", "/nic/update?hostname=x"):
            tls.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
            head, _, body = tls.recv(65536).partition(b"\r\n\r\n")
            length = int(next(line.split(b":")[1] for line in head.split(b"\r\n")
                              if line.lower().startswith(b"content-length:")))
            assert length > 0 and len(body) == length


def test_control_rejects_unknown_keys_and_reset_restores_defaults(fake_service):
    with pytest.raises(RuntimeError, match="unknown control keys"):
        fake_service.control(updates={"body": "911"})
    with pytest.raises(RuntimeError, match="unknown answer keys"):
        fake_service.control(update={"stal": 1})
    fake_service.control(hostname="x.example.org", ip4="198.51.100.1\n", update={"body": "abuse", "sticky": True})
    update(fake_service, f"hostname={HOST}&myip=192.0.2.1")
    assert fake_service.requests()
    fake_service.clear_requests()
    assert fake_service.requests() == []
    get(fake_service, "/ip4")
    fake_service.reset()
    assert fake_service.requests() == []
    assert get(fake_service, "/ip4")[1] == "203.0.113.7\n"
    assert update(fake_service, f"hostname={HOST}&myip=192.0.2.1")[1] == "good 192.0.2.1"


def test_certificate_verifies_for_loopback_names(fake_service, fake_state_dir):
    subprocess.run(["openssl", "verify", "-x509_strict", "-purpose", "sslserver", "-CAfile",
                    fake_service.ca_file, str(fake_state_dir / "server.pem")], check=True, capture_output=True)
    connection = connect(fake_service, server_hostname="localhost")
    connection.request("GET", "/ip4")
    assert connection.getresponse().read() == b"203.0.113.7\n"
    connection.close()
    try:
        raw = socket.create_connection(("::1", fake_service.port), timeout=2)
    except OSError:
        pytest.skip("no IPv6 loopback here")
    with fake_service.ssl_context().wrap_socket(raw, server_hostname="::1") as tls:
        tls.sendall(b"GET /ip6 HTTP/1.1\r\nHost: [::1]\r\nConnection: close\r\n\r\n")
        answer = b""
        while chunk := tls.recv(4096):
            answer += chunk
        assert answer.startswith(b"HTTP/1.1 200 ") and answer.endswith(b"\r\n\r\n2001:db8::7\n")


def test_stops_on_sigterm_and_serves_plain_http_when_asked(fake_state_dir):
    service = FakeService(fake_state_dir, "--http")
    assert service.base_url == f"http://127.0.0.1:{service.port}"
    connection = http.client.HTTPConnection("127.0.0.1", service.port, timeout=5)
    connection.request("GET", "/ip4")
    assert connection.getresponse().read() == b"203.0.113.7\n"
    connection.close()
    assert service.stop() == 0
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(("127.0.0.1", service.port), timeout=2)
