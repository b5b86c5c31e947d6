"""The man page korvane-client(1): it renders without a warning and says what the program and its code do.

The page is checked against the program itself (usage text, version) and against the code's names (paths,
environment variables), so a change on either side that the page does not follow fails here."""
import os
import plistlib
import re
import shlex
import shutil
import subprocess
import unicodedata
from functools import lru_cache
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PAGE = ROOT / "packaging/man/korvane-client.1"
PLIST = ROOT / "packaging/macos/com.korvane.client.plist"
CLIENT = os.environ.get("KORVANE_CLIENT")

needs_groff = pytest.mark.skipif(shutil.which("groff") is None, reason="groff is not installed")
needs_client = pytest.mark.skipif(not CLIENT, reason="KORVANE_CLIENT is not set")

@lru_cache(maxsize=None)
def usage_text():
    result = subprocess.run([CLIENT, "help"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60,
                            check=True)
    return result.stdout.decode("utf-8")


@lru_cache(maxsize=None)
def render(device):
    # One endless line per paragraph and no hyphenation, so no line break can split a word; -c makes
    # grotty mark bold and italic by overstriking, which is stripped below.
    result = subprocess.run(["groff", "-man", f"-T{device}", "-rLL=1000n", "-rHY=0", "-rcR=1", "-P-c",
                             str(PAGE)], capture_output=True, timeout=60, check=True)
    text = result.stdout.decode("utf-8")
    text = re.sub(r"\x1b\[[0-9;]*m", "", text)
    text = re.sub(r".\x08", "", text)
    # groff turns "-" into U+2010 and "\-" into U+2212 on a UTF-8 device.
    text = unicodedata.normalize("NFC", text).replace("\u2010", "-").replace("\u2212", "-")
    return text


def section(text, name):
    """The body of one rendered section: the lines after its heading up to the next unindented line."""
    lines = text.split("\n")
    start = [i for i, line in enumerate(lines) if line.strip() == name and not line[:1].isspace()]
    assert start, f"no section {name} in the rendered page"
    body = []
    for line in lines[start[0] + 1:]:
        if line and not line[:1].isspace():
            break
        body.append(line)
    return "\n".join(body)


def squeeze(text):
    return re.sub(r"\s+", " ", text)


def entry_tags(text):
    """The first word of each line at a section's own indent: the tags of its entries (and the first
    word of its plain paragraphs, which no lookup asks for)."""
    return {match.rstrip(",") for match in re.findall(r"^ {7}(\S+)", text, re.M)}


def has_word(text, word):
    return re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text) is not None


def usage_commands():
    """(command word, description) for each command line of the usage text, options cut off."""
    commands = []
    for line in usage_text().split("\n"):
        if not line.startswith("  ") or line.strip().startswith("[") or not line.strip():
            continue
        word, rest = line.strip().split(None, 1)
        description = re.sub(r"(\s*\[[^\]]*\])+$", "", rest).strip()
        commands.append((word, description))
    assert commands, "no command lines in the usage text"
    return commands


# --- the source ----------------------------------------------------------------------------------------

def test_source_is_pure_ascii():
    for number, line in enumerate(PAGE.read_bytes().split(b"\n"), start=1):
        assert all(byte < 0x80 for byte in line), f"line {number} is not ASCII: {line!r}"


@needs_groff
def test_groff_reads_the_page_without_a_single_warning():
    result = subprocess.run(["groff", "-man", "-ww", "-z", str(PAGE)], capture_output=True, timeout=60,
                            check=False)
    assert result.returncode == 0
    assert result.stderr.decode("utf-8", "replace") == ""


@needs_client
def test_title_line_carries_the_programs_version():
    title = [line for line in PAGE.read_text(encoding="latin-1").split("\n") if line.startswith(".TH ")]
    assert len(title) == 1
    arguments = shlex.split(title[0][4:].replace("\\-", "-"))
    version = subprocess.run([CLIENT, "version"], capture_output=True, timeout=60,
                             check=True).stdout.decode("utf-8").strip()
    assert arguments[0] == "KORVANE-CLIENT"
    assert arguments[1] == PAGE.suffix[1:]
    assert arguments[3].split()[-1] == version


# --- commands and options ------------------------------------------------------------------------------

@needs_groff
@needs_client
def test_every_command_and_option_of_the_usage_text_is_described():
    page = render("ascii")
    commands = section(page, "BEFEHLE")
    options = section(page, "OPTIONEN")
    for word, _ in usage_commands():
        assert word in entry_tags(commands), f"no entry for the command {word} under BEFEHLE"
    flags = set(re.findall(r"--[a-z0-9-]+", usage_text()))
    assert flags, "no option in the usage text"
    for flag in sorted(flags):
        assert flag in entry_tags(options), f"no entry for the option {flag} under OPTIONEN"
    for placeholder in sorted(set(re.findall(r"\[--[a-z0-9-]+ <([a-z]+)>\]", usage_text()))):
        assert has_word(options, placeholder), f"placeholder {placeholder} missing under OPTIONEN"


@needs_groff
@needs_client
def test_every_command_description_of_the_usage_text_appears_word_for_word():
    commands = squeeze(section(render("utf8"), "BEFEHLE"))
    for word, description in usage_commands():
        assert squeeze(description) in commands, f"description of {word} not verbatim: {description!r}"


# --- files, environment, exit status, launchd job ------------------------------------------------------

# Where the code names a location; every name found must be in the page.
NAME_SOURCES = [
    # The version beside them is the title line's business.
    ("core/config/ClientPaths.hpp", r'std::string_view (?!current\b)\w+ = "([^"]+)";'),
    ("core/config/ClientPaths.cpp", r'/ "([^"]+)"'),
    ("client/selfupdate/PkgAutoUpdater.cpp", r'"(korvane-update-)" \+'),
    ("client/selfupdate/PkgAutoUpdater.cpp", r'return "(RuzEdaRoredo-)" \+'),
]


def names_in_code():
    names = []
    for relative, pattern in NAME_SOURCES:
        found = re.findall(pattern, (ROOT / relative).read_text(encoding="utf-8"))
        assert found, f"{relative} no longer matches {pattern!r}; update the table"
        names += found
    job = plistlib.loads(PLIST.read_bytes())
    return names + [job["Label"], job["ProgramArguments"][0], job["StandardOutPath"]]


@needs_groff
def test_page_names_every_path_file_and_the_job_label():
    page = render("ascii")
    files = section(page, "DATEIEN")
    for name in names_in_code():
        if name.startswith("/") or name.endswith(".json") or name.endswith("-"):
            assert name in files, f"{name} missing under DATEIEN"
        else:
            assert has_word(section(page, "LAUNCHD-JOB"), name), f"{name} missing under LAUNCHD-JOB"


# Where the code reads or sets an environment variable; each one must be under UMGEBUNG.
ENVIRONMENT_SOURCES = [
    r'getenv\("([A-Z_]+)"\)',
    r'currentEnvironmentWith\("([A-Z_]+)"',
]


def environment_in_code():
    names = set()
    for path in list((ROOT / "core").rglob("*.cpp")) + list((ROOT / "client").rglob("*.cpp")):
        text = path.read_text(encoding="utf-8")
        for pattern in ENVIRONMENT_SOURCES:
            names.update(re.findall(pattern, text))
        if "temp_directory_path" in text:
            names.add("TMPDIR")
    return names


@needs_groff
def test_every_environment_variable_the_code_reads_or_sets_is_described():
    names = environment_in_code()
    assert {"KORVANE_CONFIG_DIR", "KORVANE_SELF_UPDATE"} <= names
    environment = section(render("ascii"), "UMGEBUNG")
    for name in sorted(names):
        assert has_word(environment, name), f"{name} missing under UMGEBUNG"


@needs_groff
def test_exit_status_section_lists_exactly_0_1_and_64():
    listed = set(re.findall(r"^ {7}(\d+) {2,}\S", section(render("ascii"), "EXIT-STATUS"), re.M))
    assert listed == {"0", "1", "64"}


@needs_groff
def test_launchd_job_section_matches_the_shipped_job():
    job = plistlib.loads(PLIST.read_bytes())
    text = squeeze(section(render("ascii"), "LAUNCHD-JOB"))
    assert " ".join(job["ProgramArguments"]) in text
    for key in ("RunAtLoad", "KeepAlive"):
        assert job[key] is True and has_word(text, key)
    assert f"ThrottleInterval {job['ThrottleInterval']}" in text
    for command in ("kickstart -k", "print", "bootout"):
        assert f"sudo launchctl {command} system/{job['Label']}" in text
