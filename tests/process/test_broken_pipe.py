"""A reader that goes away (`korvane-client once | head -1`) does not end a cycle half-way."""
import os
import subprocess

from test_once import OWN_VARIABLES, client, ip_state, write_config


def test_once_finishes_its_cycle_after_its_reader_has_gone(fake_service, config_dir):
    # The first endpoint's answer is unusable: a WARN line is written before the update goes out.
    write_config(config_dir, fake_service)
    fake_service.control(ip4="x\n", ip4b="198.51.100.4\n")
    env = {k: v for k, v in os.environ.items() if k not in OWN_VARIABLES}
    env.update(KORVANE_CONFIG_DIR=str(config_dir), SSL_CERT_FILE=fake_service.ca_file,
               KORVANE_SERVER_BASE_URL=fake_service.base_url)
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        done = subprocess.run([client(), "once"], env=env, stdin=subprocess.DEVNULL, stdout=write_end,
                              stderr=subprocess.PIPE, timeout=120, check=False)
    finally:
        os.close(write_end)
    assert (done.returncode, done.stderr) == (0, b"")
    assert ip_state(config_dir) == {"ipv4": "198.51.100.4"}
    assert len(fake_service.requests("/nic/update")) == 1
