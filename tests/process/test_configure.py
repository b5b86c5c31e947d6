"""`korvane-client configure` as a process: option errors, piped and typed input, the hidden key prompt on
a real pseudo-terminal, validation and save failures, and the summary, byte for byte."""
import fcntl
import json
import os
import resource
import select
import shutil
import signal
import subprocess
import termios
import time
from pathlib import Path

import pytest

CLIENT = os.environ.get("KORVANE_CLIENT")
if not CLIENT:
    pytest.skip("KORVANE_CLIENT is not set", allow_module_level=True)

USAGE_LINE = ("Verwendung: korvane-client configure [--hostname <fqdn>] [--interval <min>] [--ipv4|--no-ipv4] "
              "[--ipv6|--no-ipv6] [--api-key-stdin]\n")
HOST_PROMPT = "Hostname (z.B. home.example.net): "
KEY_PROMPT = "API-Key (dyndns_…, Eingabe unsichtbar): "
STORED_KEY = "dyndns_storedsecret4711"
NOBODY = 65534
PATIENCE = 30  # seconds before a wait gives up; a healthy run needs a fraction of it
PLIST = Path("/Library/LaunchDaemons/com.korvane.client.plist")

# The restart hint is shown only when the launchd job is installed, which it is not on a test machine.
pytestmark = pytest.mark.skipif(PLIST.exists(), reason="a launchd job definition is installed here")


def configure(config_dir, *args, input=b"", as_nobody=False):
    env = dict(os.environ, KORVANE_CONFIG_DIR=str(config_dir))
    command = [CLIENT, "configure", *args]
    if as_nobody:
        command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", *command]
    return subprocess.run(command, input=input, capture_output=True, env=env, timeout=PATIENCE, check=False)


def store(config_dir, **fields):
    config = {"hostname": "stored.example.net", "apiKey": STORED_KEY}
    config.update(fields)
    (config_dir / "config.json").write_text(json.dumps(config), encoding="utf-8")
    os.chmod(config_dir / "config.json", 0o600)


def stored(config_dir):
    return json.loads((config_dir / "config.json").read_text(encoding="utf-8"))


def snapshot(directory):
    return {p.name: p.read_bytes() for p in sorted(directory.iterdir())}


def summary(config_dir, hostname, minutes, ipv4, ipv6):
    return (f"Konfiguration gespeichert: {config_dir}/config.json\n"
            f"  Hostname:  {hostname}\n"
            f"  Intervall: {minutes} min\n"
            f"  IPv4:      {ipv4}\n"
            f"  IPv6:      {ipv6}\n").encode("utf-8")


# --- usage errors ------------------------------------------------------------------------------------------

USAGE_ERRORS = [
    (["--hostname"], "--hostname braucht einen Wert."),
    (["--ipv4", "--hostname"], "--hostname braucht einen Wert."),
    (["--interval"], "--interval braucht eine Minutenzahl."),
    (["--interval", "abc"], "--interval braucht eine Minutenzahl."),
    (["--interval", "5 min"], "--interval braucht eine Minutenzahl."),
    (["--interval", "99999999999999999999"], "--interval braucht eine Minutenzahl."),
    (["--verbose"], "Unbekannte Option: --verbose"),
    (["--interval=5"], "Unbekannte Option: --interval=5"),
    (["-h"], "Unbekannte Option: -h"),
]


@pytest.mark.parametrize("args,message", USAGE_ERRORS)
def test_usage_error_touches_nothing_and_prompts_for_nothing(config_dir, args, message):
    store(config_dir)
    (config_dir / "ipstate.json").write_text('{"ipv4":"192.0.2.1"}')
    before = snapshot(config_dir)

    result = configure(config_dir, *args, input=b"new.example.net\ndyndns_newkey12345\n")

    assert result.returncode == 64
    assert result.stderr == (message + "\n" + USAGE_LINE).encode("utf-8")
    assert result.stdout == b""
    assert snapshot(config_dir) == before


def test_usage_error_creates_no_directory(tmp_path):
    missing = tmp_path / "not-yet"
    result = configure(missing, "--interval", "x")
    assert result.returncode == 64
    assert not missing.exists()


# --- piped input -----------------------------------------------------------------------------------------

def test_piped_input_gives_host_name_then_key(config_dir):
    result = configure(config_dir, input=b"  fresh.example.net\t\r\n dyndns_pipedkey12345 \n")

    assert result.returncode == 0, result.stderr
    # The host name is asked for; the key prompt is not shown on a non-terminal input.
    assert result.stdout == HOST_PROMPT.encode("utf-8") + summary(config_dir, "fresh.example.net", 5, "an", "aus")
    assert result.stderr == b""
    config = stored(config_dir)
    assert config["hostname"] == "fresh.example.net"
    assert config["apiKey"] == "dyndns_pipedkey12345"
    assert b"dyndns_pipedkey12345" not in result.stdout


def test_piped_end_of_input_keeps_the_stored_key_and_host(config_dir):
    store(config_dir, updateIntervalMinutes=20, enableIpv6=True)
    result = configure(config_dir)
    assert result.returncode == 0, result.stderr
    assert result.stdout == summary(config_dir, "stored.example.net", 20, "an", "an")
    assert stored(config_dir)["apiKey"] == STORED_KEY


def test_api_key_stdin_replaces_the_key_without_prompt(config_dir):
    store(config_dir)
    result = configure(config_dir, "--api-key-stdin", input=b"dyndns_fromstdin0001\r\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout == summary(config_dir, "stored.example.net", 5, "an", "aus")
    assert stored(config_dir)["apiKey"] == "dyndns_fromstdin0001"


def test_api_key_stdin_with_empty_input_clears_the_key_and_fails(config_dir):
    store(config_dir)
    before = snapshot(config_dir)
    result = configure(config_dir, "--api-key-stdin")
    assert result.returncode == 1
    assert result.stderr == "Konfiguration ungültig: API-Key fehlt.\n".encode("utf-8")
    assert result.stdout == b""
    assert snapshot(config_dir) == before


# --- validation, saving and the summary --------------------------------------------------------------------

@pytest.mark.parametrize("args,message", [
    (["--no-ipv4"], "Mindestens eine Adressfamilie (IPv4 oder IPv6) muss aktiviert sein."),
    (["--interval", "-5"], "Update-Intervall muss mindestens 1 Minute(n) betragen."),
    (["--interval", "0"], "Update-Intervall muss mindestens 1 Minute(n) betragen."),
    (["--hostname", ""], "Hostname fehlt."),
    (["--hostname", "   "], "Hostname fehlt."),
])
def test_validation_failure_writes_nothing(config_dir, args, message):
    store(config_dir)
    (config_dir / "ipstate.json").write_text('{"ipv4":"192.0.2.1"}')
    before = snapshot(config_dir)
    result = configure(config_dir, *args)
    assert result.returncode == 1
    assert result.stderr == f"Konfiguration ungültig: {message}\n".encode("utf-8")
    assert result.stdout == b""
    assert snapshot(config_dir) == before


def test_summary_is_exact_and_pushed_addresses_are_forgotten(config_dir):
    store(config_dir, ipv4DiscoveryUrls=["https://v4.example"], updateIntervalMinutes=9)
    (config_dir / "ipstate.json").write_text('{"ipv4":"192.0.2.1","ipv6":"2001:db8::1"}')

    result = configure(config_dir, "--hostname", " spaced.example.net", "--no-ipv4", "--ipv6",
                       "--interval", "+15", input=b"\n")

    assert result.returncode == 0, result.stderr
    assert result.stdout == summary(config_dir, " spaced.example.net", 15, "aus", "an")
    assert result.stderr == b""
    assert not (config_dir / "ipstate.json").exists()
    config = stored(config_dir)
    assert config["hostname"] == " spaced.example.net"
    assert config["apiKey"] == STORED_KEY
    assert config["ipv4DiscoveryUrls"] == ["https://v4.example"]
    assert os.stat(config_dir / "config.json").st_mode & 0o777 == 0o600
    assert STORED_KEY.encode() not in result.stdout + result.stderr


def test_hostname_takes_an_option_looking_value(config_dir):
    store(config_dir, enableIpv6=False)
    result = configure(config_dir, "--hostname", "--ipv6")
    assert result.returncode == 0, result.stderr
    assert stored(config_dir)["hostname"] == "--ipv6"
    assert stored(config_dir)["enableIpv6"] is False


def test_damaged_configuration_is_replaced_silently(config_dir):
    (config_dir / "config.json").write_text("{ this is not json")
    result = configure(config_dir, input=b"new.example.net\ndyndns_replacement01\n")
    assert result.returncode == 0, result.stderr
    assert result.stderr == b""
    config = stored(config_dir)
    assert config["hostname"] == "new.example.net"
    assert config["updateIntervalMinutes"] == 5


def test_missing_directory_is_created(tmp_path):
    target = tmp_path / "a" / "b"
    result = configure(target, "--hostname", "h.example.net", "--api-key-stdin", input=b"dyndns_abcdefghijkl\n")
    assert result.returncode == 0, result.stderr
    assert stored(target)["hostname"] == "h.example.net"


@pytest.mark.skipif(os.geteuid() != 0 or shutil.which("setpriv") is None,
                    reason="needs root to run the program as another user")
def test_save_as_non_root_fails_with_root_hint_and_keeps_the_old_file(config_dir):
    os.chmod(config_dir, 0o755)
    store(config_dir)
    os.chmod(config_dir / "config.json", 0o644)  # readable, so the stored values are the base
    before = snapshot(config_dir)

    result = configure(config_dir, "--interval", "10", "--api-key-stdin", input=b"dyndns_other123456\n",
                       as_nobody=True)

    assert result.returncode == 1
    expected = (f"Speichern fehlgeschlagen: Konfigurationsdatei konnte nicht geschrieben werden: "
                f"{config_dir}/config.json.tmp (Schreiben nach {config_dir} erfordert root — "
                f"'sudo korvane-client configure')\n")
    assert result.stderr == expected.encode("utf-8")
    assert result.stdout == b""
    assert snapshot(config_dir) == before


def test_save_failure_root_cannot_fix_has_no_hint(config_dir):
    # A directory in place of the temporary file makes the write fail even for root.
    (config_dir / "config.json.tmp").mkdir()
    (config_dir / "config.json.tmp" / "keep").mkdir()
    result = configure(config_dir, "--hostname", "h.example.net", "--api-key-stdin",
                       input=b"dyndns_abcdefghijkl\n")
    assert result.returncode == 1
    message = f"Speichern fehlgeschlagen: Konfigurationsdatei konnte nicht geschrieben werden: {config_dir}/config.json.tmp"
    assert result.stderr == (message + "\n").encode("utf-8")
    assert not (config_dir / "config.json").exists()


# --- a real terminal ---------------------------------------------------------------------------------------

class Terminal:
    """configure with a pseudo-terminal as its controlling terminal and standard streams."""

    def __init__(self, config_dir, *args):
        self.master, self.slave = os.openpty()
        env = dict(os.environ, KORVANE_CONFIG_DIR=str(config_dir))

        def become_terminal_session():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # SIGQUIT must not leave a core file

        self.process = subprocess.Popen(
            [CLIENT, "configure", *args], stdin=self.slave, stdout=self.slave, stderr=self.slave, env=env,
            cwd=config_dir, start_new_session=True, preexec_fn=become_terminal_session)
        self.seen = b""

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)

    def read_available(self, wait):
        ready, _, _ = select.select([self.master], [], [], wait)
        if not ready:
            return False
        try:
            chunk = os.read(self.master, 4096)
        except OSError:
            return False
        self.seen += chunk
        return bool(chunk)

    def wait_for_output(self, text):
        deadline = time.monotonic() + PATIENCE
        while text.encode("utf-8") not in self.seen:
            assert time.monotonic() < deadline, f"never saw {text!r}; got {self.seen!r}"
            self.read_available(0.1)

    def echo_on(self):
        return bool(termios.tcgetattr(self.slave)[3] & termios.ECHO)

    def wait_until_echo_off(self):
        deadline = time.monotonic() + PATIENCE
        while self.echo_on():
            assert time.monotonic() < deadline, "echo was never switched off"
            time.sleep(0.01)

    def type(self, data):
        os.write(self.master, data)

    def finish(self):
        returncode = self.process.wait(timeout=PATIENCE)
        while self.read_available(0):
            pass
        return returncode

    def output(self):
        return self.seen.replace(b"\r\n", b"\n").decode("utf-8")


@pytest.fixture
def terminal():
    opened = []

    def start(config_dir, *args):
        t = Terminal(config_dir, *args)
        opened.append(t)
        return t

    yield start
    for t in opened:
        t.close()


def test_terminal_hides_the_typed_key_and_saves_it(config_dir, terminal):
    store(config_dir)
    t = terminal(config_dir)
    t.wait_for_output(KEY_PROMPT)
    t.wait_until_echo_off()
    # Canonical line editing stays on: the line is delivered on Enter, a backspace edits it.
    assert termios.tcgetattr(t.slave)[3] & termios.ICANON
    t.type(b"dyndns_typedsecret9X\x7f9\n")

    assert t.finish() == 0
    out = t.output()
    assert "typedsecret" not in out
    assert out == KEY_PROMPT + "\n" + summary(config_dir, "stored.example.net", 5, "an", "aus").decode("utf-8")
    assert t.echo_on()
    assert stored(config_dir)["apiKey"] == "dyndns_typedsecret99"


def test_terminal_enter_keeps_the_stored_key(config_dir, terminal):
    store(config_dir)
    t = terminal(config_dir)
    t.wait_for_output(KEY_PROMPT)
    t.wait_until_echo_off()
    t.type(b"  \n")
    assert t.finish() == 0
    assert t.echo_on()
    assert stored(config_dir)["apiKey"] == STORED_KEY
    assert STORED_KEY not in t.output()


def test_terminal_asks_for_the_host_name_visibly_then_the_key_hidden(config_dir, terminal):
    t = terminal(config_dir, "--interval", "12")
    t.wait_for_output(HOST_PROMPT)
    t.type(b"typed.example.net\n")
    t.wait_for_output(KEY_PROMPT)
    t.wait_until_echo_off()
    t.type(b"dyndns_interactive01\n")
    assert t.finish() == 0
    out = t.output()
    # The host name was echoed by the terminal, the key was not.
    assert out == (HOST_PROMPT + "typed.example.net\n" + KEY_PROMPT + "\n" +
                   summary(config_dir, "typed.example.net", 12, "an", "aus").decode("utf-8"))
    config = stored(config_dir)
    assert (config["hostname"], config["apiKey"]) == ("typed.example.net", "dyndns_interactive01")


@pytest.mark.parametrize("keys,sig", [(b"\x03", signal.SIGINT), (b"\x1c", signal.SIGQUIT)])
def test_interrupt_during_hidden_input_restores_echo(config_dir, terminal, keys, sig):
    store(config_dir)
    before = snapshot(config_dir)
    t = terminal(config_dir)
    t.wait_for_output(KEY_PROMPT)
    t.wait_until_echo_off()
    t.type(b"dyndns_half")
    t.type(keys)
    assert t.finish() == -sig
    assert t.echo_on()
    assert snapshot(config_dir) == before


def test_termination_during_hidden_input_restores_echo(config_dir, terminal):
    store(config_dir)
    t = terminal(config_dir)
    t.wait_for_output(KEY_PROMPT)
    t.wait_until_echo_off()
    t.process.send_signal(signal.SIGTERM)
    assert t.finish() == -signal.SIGTERM
    assert t.echo_on()
