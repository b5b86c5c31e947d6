"""The man page korvane-client(1): it renders without a warning and says what the program and its code do.

The page is checked against the program itself (usage text, version, exit codes, accepted aliases) and
against the code's names (paths, file modes, environment variables), so a change on either side that the
page does not follow fails here."""
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

# The classic man(7) macros that groff and mandoc both know, and the two plain roff requests the page
# uses to switch hyphenation and justification off for its German text.
ALLOWED_CONTROL_LINES = {"TH", "SH", "SS", "TP", "IP", "PP", "RS", "RE",
                         "B", "I", "BR", "RB", "IR", "RI", "BI", "IB", "nh", "ad"}


def run_client(config_dir, *args):
    env = dict(os.environ, KORVANE_CONFIG_DIR=str(config_dir))
    return subprocess.run([CLIENT, *args], stdin=subprocess.DEVNULL, capture_output=True, env=env,
                          timeout=60, check=False)


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


def test_source_uses_only_classic_man_macros():
    used = set()
    for line in PAGE.read_text(encoding="latin-1").split("\n"):
        if line.startswith(".\\\"") or not line.startswith((".", "'")):
            continue
        used.add(line[1:].split(None, 1)[0] if line[1:].strip() else "")
    assert used, "no control line found"
    assert used <= ALLOWED_CONTROL_LINES, f"not a classic man macro: {sorted(used - ALLOWED_CONTROL_LINES)}"


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


# Words the dispatcher accepts beside the usage text's commands, what each prints, and the page's entry
# that must name it.
ALIASES = [
    ("help", "usage", "help"), ("--help", "usage", "help"), ("-h", "usage", "help"),
    ("version", "version", "version"), ("--version", "version", "version"), ("-v", "version", "version"),
]


@needs_groff
@needs_client
@pytest.mark.parametrize("word, prints, entry", ALIASES)
def test_help_and_version_words_are_accepted_and_described(config_dir, word, prints, entry):
    result = run_client(config_dir, word)
    assert result.returncode == 0
    if prints == "usage":
        assert result.stdout.decode("utf-8") == usage_text()
    else:
        assert re.fullmatch(r"\d+\.\d+\.\d+\n", result.stdout.decode("utf-8"))
    tags = re.findall(r"^ {7}" + re.escape(entry) + r"\b.*$", section(render("ascii"), "BEFEHLE"), re.M)
    assert len(tags) == 1 and has_word(tags[0], word), f"{word} not named in the entry {entry}"


# --- files, environment, exit status, launchd job ------------------------------------------------------

# Where the code names a location; every name found must be in the page.
NAME_SOURCES = [
    # The version beside them is the title line's business.
    ("core/config/ClientPaths.hpp", r'std::string_view (?!current\b)\w+ = "([^"]+)";'),
    ("core/config/ClientPaths.cpp", r'/ "([^"]+)"'),
    ("client/selfupdate/PkgAutoUpdater.cpp", r'\("(korvane-update-)" \+'),
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


# How the code sets each file's mode; the page's entry for that file must state the same mode.
MODE_SOURCES = [
    ("config.json", "core/config/ConfigurationStore.cpp", r"AtomicFile::write\(path_, bytes, (0[0-7]{3})\)"),
    ("ipstate.json", "core/cycle/IpStateCache.cpp", r"stateFileMode = (0[0-7]{3});"),
    ("status.json", "core/status/DaemonStatus.cpp", r"statusFileMode = (0[0-7]{3});"),
    ("korvane-update-", "client/selfupdate/PkgAutoUpdater.cpp",
     r"::mkdir\(directory\.c_str\(\), (0[0-7]{3})\)"),
    ("RuzEdaRoredo-", "client/selfupdate/PkgAutoUpdater.cpp", r"O_NOFOLLOW \| O_CLOEXEC, (0[0-7]{3})\)"),
]


def file_entries(files):
    """{tag: body} of the DATEIEN section; a tag is a line at the section's indent, its body below it."""
    entries = {}
    tag = None
    for line in files.split("\n"):
        if re.match(r" {7}\S", line):
            tag = line.strip()
            entries[tag] = ""
        elif tag is not None and line.strip():
            entries[tag] += line.strip() + " "
    return entries


@needs_groff
@pytest.mark.parametrize("name, source, pattern", MODE_SOURCES)
def test_files_are_described_with_the_mode_the_code_gives_them(name, source, pattern):
    modes = re.findall(pattern, (ROOT / source).read_text(encoding="utf-8"))
    assert len(modes) == 1, f"{source} no longer matches {pattern!r}; update the table"
    entries = file_entries(section(render("ascii"), "DATEIEN"))
    tags = [tag for tag in entries if tag.rstrip("/").rsplit("/", 1)[-1].startswith(name)]
    assert len(tags) == 1, f"no single DATEIEN entry for {name}: {sorted(entries)}"
    stated = re.findall(r"\b0[0-7]{3}\b", entries[tags[0]])
    assert stated == [modes[0]], f"{tags[0]}: page says {stated}, code uses {modes[0]}"


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
def test_proxy_variables_are_described_as_ignored_only_while_the_session_disables_them():
    session = (ROOT / "core/support/HttpSession.cpp").read_text(encoding="utf-8")
    environment = section(render("ascii"), "UMGEBUNG")
    ignored = has_word(environment, "https_proxy") and "nicht beachtet" in environment
    assert ignored == ('CURLOPT_PROXY, "")' in session)


# One invocation for each exit status of the program.
EXIT_CODES = [
    (0, ["version"]),
    (1, ["once"]),            # no configuration in the empty directory
    (64, ["frobnicate"]),
]


@needs_groff
@needs_client
def test_exit_status_section_lists_exactly_the_programs_codes(config_dir):
    for code, arguments in EXIT_CODES:
        assert run_client(config_dir, *arguments).returncode == code, arguments
    listed = set(re.findall(r"^ {7}(\d+) {2,}\S", section(render("ascii"), "EXIT-STATUS"), re.M))
    assert listed == {str(code) for code, _ in EXIT_CODES}


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
