"""Ending the processes the tests start: by their own pid, politely first."""
import signal
import subprocess


def stop(process, grace=5):
    """SIGTERM, then SIGKILL when it has not ended after `grace` seconds. Returns its exit status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode
