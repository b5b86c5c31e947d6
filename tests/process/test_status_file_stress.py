"""A status writer killed at random moments leaves no status file or a complete one, never a partial one."""
import json
import os
import random
import re
import select
import signal
import stat
import subprocess
from datetime import datetime

import pytest


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
        text = status.read_text(encoding="utf-8")
        pairs = json.loads(text, object_pairs_hook=list)
        keys = [key for key, _ in pairs]
        # Pretty-printed and sorted, the four required keys and only known ones, every value a string.
        lines = text.split("\n")
        assert (lines[0], lines[-1], len(lines)) == ("{", "}", len(keys) + 2), context
        assert keys == sorted(set(keys)), context
        assert {"daemonVersion", "message", "state", "updatedAt"} <= set(keys) <= {
            "daemonVersion", "message", "state", "updatedAt", "hostname", "lastIpv4", "lastIpv6", "lastSuccessAt"}
        values = dict(pairs)
        assert all(isinstance(v, str) for v in values.values()) and values["state"] in ("ok", "warning", "error", "idle")
        for key in ("updatedAt", "lastSuccessAt"):
            if key in values:
                datetime.strptime(values[key], "%Y-%m-%dT%H:%M:%SZ")
        counter = int(re.fullmatch(r"write (\d+)( x*)?", values["message"]).group(1))
        assert counter >= last, f"{context}: counter went back from {last} to {counter}"
        last = counter
    assert last > 0
