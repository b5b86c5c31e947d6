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
from datetime import datetime
from pathlib import Path

import pytest

KILLS = 50
REQUIRED = {"daemonVersion", "message", "state", "updatedAt"}
OPTIONAL = {"hostname", "lastIpv4", "lastIpv6", "lastSuccessAt"}
STATES = {"ok", "warning", "error", "idle"}
DATE = re.compile(r"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z")
MESSAGE = re.compile(r"write (\d+)( x*)?")
# Only a hang guard: a healthy writer reports its first write within milliseconds.
FIRST_WRITE_GUARD_SECONDS = 60


def writer_path():
    path = os.environ.get("KORVANE_STATUS_WRITER")
    if not path and os.environ.get("KORVANE_CLIENT"):
        # Same build tree as the client: <build>/client/korvane-client, <build>/tests/korvane-status-writer.
        path = str(Path(os.environ["KORVANE_CLIENT"]).parents[1] / "tests" / "korvane-status-writer")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("KORVANE_STATUS_WRITER does not name the built korvane-status-writer")
    return path


def check_status_document(data):
    """Applies the readers' rules to the file's bytes and returns the counter of its message."""
    text = data.decode("utf-8")
    pairs = json.loads(text, object_pairs_hook=lambda items: items)
    assert isinstance(pairs, list), "top level is not an object"
    keys = [key for key, _ in pairs]
    assert keys == sorted(keys), keys
    assert len(set(keys)) == len(keys), keys
    assert REQUIRED <= set(keys) <= REQUIRED | OPTIONAL, keys
    values = dict(pairs)
    for key, value in values.items():
        assert isinstance(value, str), f"{key} is {value!r}"
    assert values["state"] in STATES
    for key in ("updatedAt", "lastSuccessAt"):
        if key in values:
            assert DATE.fullmatch(values[key]), values[key]
            datetime.strptime(values[key], "%Y-%m-%dT%H:%M:%SZ")
    # Pretty-printed: one member per line between the braces.
    lines = text.split("\n")
    assert lines[0] == "{" and lines[-1] == "}" and len(lines) == len(keys) + 2, text
    match = MESSAGE.fullmatch(values["message"])
    assert match, values["message"]
    return int(match.group(1))


def wait_for_first_write(process):
    ready, _, _ = select.select([process.stdout], [], [], FIRST_WRITE_GUARD_SECONDS)
    assert ready, "the writer never reported its first write"
    assert process.stdout.readline() == b"written\n"


def test_killed_writer_never_leaves_a_partial_status_file(config_dir):
    writer = writer_path()
    status = config_dir / "status.json"
    seed = random.randrange(1 << 32)
    rng = random.Random(seed)
    reported_write = False
    seen_file = False
    last_counter = 0

    for kill in range(KILLS):
        process = subprocess.Popen([writer, str(status)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            # Every fifth kill waits for a write that is known to have landed, so the file must exist later.
            if kill % 5 == 4:
                wait_for_first_write(process)
            select.select([], [], [], rng.uniform(0, 0.03))
        finally:
            process.send_signal(signal.SIGKILL)
            process.wait()
        out = process.stdout.read()
        err = process.stderr.read()
        process.stdout.close()
        process.stderr.close()
        context = f"kill {kill}, seed {seed}"
        assert process.returncode == -signal.SIGKILL, f"{context}: writer ended by itself: {err!r}"
        reported_write = reported_write or b"written" in out

        if not status.exists():
            assert not seen_file and not reported_write, f"{context}: status.json vanished after a write"
            continue
        seen_file = True
        assert stat.S_IMODE(status.stat().st_mode) == 0o644, context
        data = status.read_bytes()
        try:
            counter = check_status_document(data)
        except (ValueError, AssertionError) as problem:
            pytest.fail(f"{context}: status.json is not a complete status ({problem}): {data!r}")
        assert counter >= last_counter, f"{context}: counter went back from {last_counter} to {counter}"
        last_counter = counter

    assert seen_file
    assert last_counter > 0


def test_two_writers_at_once_never_publish_a_torn_file(config_dir):
    writer = writer_path()
    status = config_dir / "status.json"
    writers = [subprocess.Popen([writer, str(status)], stdout=subprocess.PIPE) for _ in range(2)]
    try:
        for process in writers:
            wait_for_first_write(process)
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            data = status.read_bytes()
            try:
                check_status_document(data)
            except (ValueError, AssertionError) as problem:
                pytest.fail(f"status.json is not a complete status ({problem}): {data!r}")
    finally:
        for process in writers:
            process.kill()
            process.wait()
            process.stdout.close()
