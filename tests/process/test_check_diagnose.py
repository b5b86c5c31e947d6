"""packaging/macos/check-diagnose's comparison against recorded outputs of macOS's own tools (data/macos/README.md):
the report of that Mac agrees with them, and a difference planted in any one field is found, and only there."""
import copy
import json
from importlib.machinery import SourceFileLoader
from importlib.util import module_from_spec, spec_from_loader
from pathlib import Path

import pytest

from conftest import REPO

LOADER = SourceFileLoader("check_diagnose", str(REPO / "packaging/macos/check-diagnose"))
check = module_from_spec(spec_from_loader("check_diagnose", LOADER))
LOADER.exec_module(check)
DATA = Path(__file__).parent / "data/macos"
REPORT = json.loads((DATA / "diagnose.json").read_text())
STABLE, TEMPORARY = "2001:db8:15a4:8001:424:837a:870:6095", "2001:db8:15a4:8001:edf7:1b86:b5fc:9085"


def recorded():
    read = lambda name: (DATA / name).read_text()  # noqa: E731
    return {"ipv4Route": check.parse_route(read("route-get-inet.txt")),
            "ipv6Route": check.parse_route(read("route-get-inet6.txt")),
            "addresses": check.parse_ifconfig(read("ifconfig-L.txt")), "nwi": check.parse_nwi(read("scutil-nwi.txt")),
            "resolvers": check.parse_dns(read("scutil-dns.txt")), "source": STABLE}


def test_the_recorded_mac_agrees_with_its_report():
    seen = recorded()
    assert seen["nwi"] == {"ipv4": "en0", "ipv6": "en0"} and seen["resolvers"] == ["192.168.0.1", "fe80::1"]
    assert seen["ipv6Route"] == {"interface": "en0", "gateway": "fe80::1"} and len(seen["addresses"]) == 3
    assert check.differences(REPORT, seen) == []


def address(report, wanted):
    return next(a for a in report["ipv6Addresses"]["addresses"] if a["address"] == wanted)


# A change to diagnose's side (the report) or to macOS's side, and the difference it must show.
@pytest.mark.parametrize("plant, what", [
    (lambda r, s: s["ipv4Route"].update(interface="en1"), "ipv4Route interface"),
    (lambda r, s: r["ipv4Route"].update(gateway="192.168.0.254"), "ipv4Route gateway"),
    (lambda r, s: r["ipv6Route"].update(gateway=None), "ipv6Route gateway"),
    (lambda r, s: s["nwi"].update(ipv6="en7"), "ipv6 primary interface (scutil --nwi)"),
    (lambda r, s: address(r, TEMPORARY).update(temporary=False), f"{TEMPORARY} temporary"),
    (lambda r, s: address(r, STABLE).update(secured=False), f"{STABLE} secured"),
    (lambda r, s: address(r, TEMPORARY).update(deprecated=True), f"{TEMPORARY} deprecated"),
    (lambda r, s: address(r, TEMPORARY).update(interface="en1"), f"{TEMPORARY} interface"),
    (lambda r, s: address(r, STABLE).update(preferredLifetime=604700), f"{STABLE} preferred lifetime"),
    (lambda r, s: address(r, STABLE).update(preferredLifetime=None), f"{STABLE} preferred lifetime"),
    (lambda r, s: s["addresses"].pop(TEMPORARY), "IPv6 addresses"),
    (lambda r, s: r["resolvers"].reverse(), "resolvers"),
    (lambda r, s: s.update(source=TEMPORARY), "IPv6 discovery source"),
    (lambda r, s: r["ipv6DiscoverySource"].update(address=None), "IPv6 discovery source"),
], ids=lambda value: value if isinstance(value, str) else "")
def test_a_planted_difference_is_found_where_it_is(plant, what):
    report, seen = copy.deepcopy(REPORT), recorded()
    plant(report, seen)
    assert [found[0] for found in check.differences(report, seen)] == [what]
