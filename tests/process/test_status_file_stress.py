"""A status writer killed at random moments leaves no status file or a complete one, never a partial one."""
import json
import os
import random
import re
import select
import signal
import stat
import subprocess
import time

import pytest

from conftest import HOST, KEY, needs_client, run, stored


def check(text):
    """The writer's counter from a complete, pretty-printed status document; fails on anything else."""
    values = json.loads(text)
    assert text.startswith("{\n") and text.endswith("\n}") and text.count("\n") == len(values) + 1
    assert {"daemonVersion", "message", "state", "updatedAt"} <= set(values)
    return int(re.fullmatch(r"write (\d+)( x*)?", values["message"]).group(1))


def test_killed_writer_never_leaves_a_partial_status_file(config_dir):
    writer = os.environ.get("KORVANE_STATUS_WRITER")
    if not writer:
        pytest.skip("KORVANE_STATUS_WRITER does not name the built korvane-status-writer")
    status, seed = config_dir / "status.json", random.randrange(1 << 32)
    rng, written, last = random.Random(seed), False, 0
    for kill in range(50):
        process = subprocess.Popen([writer, str(status)], stdout=subprocess.PIPE)
        # Every fifth kill waits for a write that is known to have landed, so the file must exist later.
        if kill % 5 == 4:
            assert select.select([process.stdout], [], [], 60)[0] and process.stdout.readline() == b"written\n"
        select.select([], [], [], rng.uniform(0, 0.03))
        process.send_signal(signal.SIGKILL)
        process.wait()
        written = written or kill % 5 == 4 or b"written" in process.stdout.read()
        process.stdout.close()
        context = f"kill {kill}, seed {seed}"
        assert process.returncode == -signal.SIGKILL, context
        if not status.exists():
            assert not written, f"{context}: status.json vanished after a write"
            continue
        assert stat.S_IMODE(status.stat().st_mode) == 0o644, context
        try:
            counter = check(status.read_text(encoding="utf-8"))
        except (ValueError, AssertionError) as problem:
            pytest.fail(f"{context}: status.json is not a complete status ({problem})")
        assert counter >= last, f"{context}: counter went back from {last} to {counter}"
        last = counter
    assert last > 0


def test_two_writers_at_once_never_publish_a_torn_file(config_dir):
    status = config_dir / "status.json"
    writer = os.environ.get("KORVANE_STATUS_WRITER") or pytest.skip("KORVANE_STATUS_WRITER is not set")
    writers = [subprocess.Popen([writer, str(status)], stdout=subprocess.PIPE) for _ in range(2)]
    try:
        for process in writers:
            assert select.select([process.stdout], [], [], 60)[0] and process.stdout.readline() == b"written\n"
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            check(status.read_text(encoding="utf-8"))
    finally:
        for process in writers:
            process.kill()
            process.wait()
            process.stdout.close()


@needs_client
def test_a_sweep_never_takes_a_write_in_progress(config_dir):
    """configure and a writer that sweeps before each write (as the daemon does) race: neither loses a write."""
    writer = os.environ.get("KORVANE_STATUS_WRITER") or pytest.skip("KORVANE_STATUS_WRITER is not set")
    process = subprocess.Popen([writer, str(config_dir / "status.json"), "--sweep"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    try:
        assert select.select([process.stdout], [], [], 60)[0] and process.stdout.readline() == b"written\n"
        for interval in range(5, 55):
            done = run(config_dir, "configure", "--hostname", HOST, "--interval", str(interval), "--api-key-stdin",
                       input=KEY.encode())
            assert done.returncode == 0 and stored(config_dir)["updateIntervalMinutes"] == interval, done.stderr
            assert process.poll() is None, process.stderr.read()
    finally:
        process.kill()
        process.communicate()
