"""Trusted roots on a system laid out like macOS: /etc/ssl/certs exists but is empty, the roots are in
/etc/ssl/cert.pem. Runs the client in a private mount namespace with such an /etc/ssl."""
import json
import os
import shutil
import subprocess

import pytest


def private_mount_namespace():
    """The unshare command that gives a private mount namespace here, or None."""
    for command in (["unshare", "-m"], ["unshare", "-r", "-m"]):
        try:
            if subprocess.run([*command, "true"], capture_output=True, timeout=10).returncode == 0:
                return command
        except (OSError, subprocess.TimeoutExpired):
            pass
    return None


def test_once_trusts_the_bundle_file_when_the_system_directory_is_empty(fake_service, config_dir, tmp_path):
    unshare = private_mount_namespace()
    if unshare is None:
        pytest.skip("no private mount namespace (unshare not permitted)")
    ssl_dir = tmp_path / "ssl"
    (ssl_dir / "certs").mkdir(parents=True)
    shutil.copy(fake_service.ca_file, ssl_dir / "cert.pem")
    if os.path.exists("/etc/ssl/openssl.cnf"):
        shutil.copy("/etc/ssl/openssl.cnf", ssl_dir / "openssl.cnf")
    config = config_dir / "config.json"
    config.write_text(json.dumps({"hostname": "home.example.net", "apiKey": "dyndns_testkey123456",
                                  "ipv4DiscoveryUrls": [fake_service.url("/ip4")], "enableIpv6": False}))
    config.chmod(0o600)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SSL_CERT_", "KORVANE_"))}
    env.update(KORVANE_CONFIG_DIR=str(config_dir), KORVANE_SERVER_BASE_URL=fake_service.base_url)
    done = subprocess.run(
        [*unshare, "sh", "-c", 'mount --bind "$1" /etc/ssl && exec "$2" once --force', "sh", str(ssl_dir),
         os.environ["KORVANE_CLIENT"]],
        env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stderr) == (0, ""), done.stdout
    assert len(fake_service.requests("/nic/update")) == 1
