"""The macOS build, here: build-pkg's own configure run for Darwin (CMake with a stand-in cmake that adds the
cross toolchain and stops before building) against a Homebrew-like prefix, and the utf8proc recipe cross-built
against a macOS SDK. The programs are universal for macOS 13, load nothing from the prefix at run time (the
recipe's static archive; Qt's frameworks, which macdeployqt copies into the app), curl comes from the SDK and
nothing links OpenSSL."""
import glob
import os
import re
import shutil
import subprocess

import pytest

from conftest import REPO

DARWIN = REPO / "tests/process/data/darwin"
UNIVERSAL = "-arch arm64 -arch x86_64 -mmacosx-version-min=13.0"
STOP_BEFORE_BUILDING = """#!/bin/bash
[ "$1" = --build ] && exit 1
args=()
while [ $# -gt 0 ]; do
    if [ "$1" = -B ]; then args+=(-B "$DARWIN_BUILD"); shift; else args+=("$1"); fi
    shift
done
exec "$REAL_CMAKE" "${args[@]}" "-DCMAKE_TOOLCHAIN_FILE=$DARWIN_TOOLCHAIN"
"""


def stub(directory, name, text):
    (directory / name).write_text(text)
    (directory / name).chmod(0o755)


@pytest.fixture(scope="module")
def darwin_build(tmp_path_factory):
    if not shutil.which("clang++") or not shutil.which("moc", path="/usr/lib/qt6/libexec"):
        pytest.skip("needs clang++ and Qt's code generators")
    base = tmp_path_factory.mktemp("darwin")
    brew, utf8proc, stubs = base / "homebrew", base / "utf8proc", base / "bin"
    for prefix in (brew, utf8proc):
        (prefix / "include").mkdir(parents=True)
        (prefix / "include/utf8proc.h").touch()
    (brew / "lib/cmake/Qt6").mkdir(parents=True)
    (utf8proc / "lib").mkdir()
    (utf8proc / "lib/libutf8proc.a").touch()
    # Homebrew's own utf8proc, one architecture: the package must not take it.
    for library in ("libutf8proc.a", "libutf8proc.dylib", "libcurl.dylib", "libcrypto.dylib"):
        (brew / "lib" / library).touch()
    shutil.copy(DARWIN / "Qt6Config.cmake", brew / "lib/cmake/Qt6")
    (brew / "lib/cmake/Qt6/Qt6ConfigVersion.cmake").write_text(
        "set(PACKAGE_VERSION 6.6.0)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
    stubs.mkdir()
    stub(stubs, "uname", "#!/bin/sh\necho Darwin\n")
    stub(stubs, "cmake", STOP_BEFORE_BUILDING)
    for tool in ("macdeployqt", "pkgbuild", "productbuild", "plutil", "otool", "lipo"):
        stub(stubs, tool, "#!/bin/sh\nexit 1\n")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KORVANE_")}
    env.update(PATH=f"{stubs}:{os.environ['PATH']}", REAL_CMAKE=shutil.which("cmake"), DARWIN_BUILD=str(base / "build"),
               DARWIN_TOOLCHAIN=str(DARWIN / "toolchain.cmake"), CMAKE_PREFIX_PATH=str(brew),
               KORVANE_UTF8PROC_PREFIX=str(utf8proc), KORVANE_PKG_TEAM_ID="ABCDE12345",
               KORVANE_SERVER_BASE_URL="https://update.korvane.de")
    done = subprocess.run([REPO / "packaging/macos/build-pkg", "--unsigned"], env=env, capture_output=True,
                          text=True, timeout=300)
    assert (base / "build/build.ninja").exists(), done.stdout + done.stderr
    return brew, utf8proc, (base / "build/build.ninja").read_text(), (base / "build/CMakeCache.txt").read_text()


def test_the_package_build_is_universal_for_macos_13_with_the_settings_it_was_given(darwin_build):
    _, _, build_ninja, cache = darwin_build
    flags = re.findall(r"^  FLAGS = (.*)$", build_ninja, re.M)
    assert flags and all(UNIVERSAL in line for line in flags), flags
    for setting in ("KORVANE_PKG_TEAM_ID:STRING=ABCDE12345", "KORVANE_SERVER_BASE_URL:STRING=https://update.korvane.de",
                    "KORVANE_UPDATE_MANIFEST_URL:STRING=https://www.korvane.example/downloads/macos/latest.json"):
        assert setting in cache.splitlines(), setting


@pytest.mark.parametrize("target, needs, forbidden", [
    ("korvane-client", ["-lcurl", "{utf8proc}/lib/libutf8proc.a"], ["{brew}/lib/libutf8proc"]),
    ("KorvaneMenuBar", ["QtWidgets"], ["curl", "utf8proc", "RuzEdaRoredoCore"]),
])
def test_darwin_link_line_names_only_the_system_and_static_archives(darwin_build, target, needs, forbidden):
    brew, utf8proc, build_ninja, _ = darwin_build
    # The Ninja statement that links the target, with its variables, as one list of words.
    match = re.search(rf"^build [^\n]*CXX_EXECUTABLE_LINKER__{re.escape(target)}_[^\n]*\n((?:  [^\n]*\n)*)",
                      build_ninja, re.M)
    words = match.group(0).split()
    text = " ".join(words)
    assert UNIVERSAL in text
    assert "/opt/homebrew" not in text and "/usr/local" not in text and not re.search(r"ssl|crypto", text, re.I)
    assert all(w.endswith(".a") or ".framework/" in w for w in words if w.startswith(str(brew))), text
    assert all(p.format(brew=brew, utf8proc=utf8proc) in text for p in needs), text
    assert not any(p.format(brew=brew, utf8proc=utf8proc) in text for p in forbidden), text


def llvm(tool):
    return shutil.which(f"llvm-{tool}-14") or shutil.which(f"llvm-{tool}")


def test_the_utf8proc_recipe_builds_one_static_archive_for_both_macs_and_macos_13(tmp_path):
    recipe, prefix = REPO / "packaging/macos/build-utf8proc", tmp_path / "utf8proc"
    (tmp_path / "other.tar.gz").write_bytes(b"not the release")
    done = subprocess.run([recipe, "--archive", tmp_path / "other.tar.gz", prefix], capture_output=True, text=True)
    assert done.returncode == 1 and "not the pinned" in done.stderr and not prefix.exists()

    # The release archive as Debian ships it (byte for byte upstream's), e.g. from `apt-get source utf8proc`.
    archive = os.environ.get("KORVANE_UTF8PROC_ARCHIVE", "/tmp/mac-cross/cache/apt/src/utf8proc_2.8.0.orig.tar.gz")
    sdks = sorted(glob.glob(os.environ.get("KORVANE_MAC_SDK", "/tmp/mac/sdk/MacOSX*.sdk")))
    if not (os.path.isfile(archive) and sdks and shutil.which("clang") and llvm("lipo") and llvm("otool")):
        pytest.skip("needs utf8proc's release archive, a macOS SDK, clang and LLVM's lipo and otool")
    env = dict(os.environ, CC=shutil.which("clang"), AR=llvm("ar"), LIPO=llvm("lipo"), SDKROOT=sdks[-1])
    done = subprocess.run([recipe, "--archive", archive, prefix], env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert sorted(p.relative_to(prefix).as_posix() for p in prefix.rglob("*") if p.is_file()) == [
        ".korvane-utf8proc", "include/utf8proc.h", "lib/libutf8proc.a"]
    library = prefix / "lib/libutf8proc.a"
    archs = subprocess.run([llvm("lipo"), "-archs", library], capture_output=True, text=True, check=True).stdout
    assert sorted(archs.split()) == ["arm64", "x86_64"]
    for arch in ("arm64", "x86_64"):
        commands = subprocess.run([llvm("otool"), "-arch", arch, "-l", library], capture_output=True, text=True,
                                  check=True).stdout
        assert re.findall(r"cmd LC_BUILD_VERSION\n.*\n\s+platform (\S+)\n.*\n\s+minos (\S+)", commands) == [
            ("macos", "13.0")], commands
