"""build-pkg's own configure for Darwin (stopped before building) and the utf8proc recipe cross-built against a
macOS SDK: universal for macOS 13, nothing from Homebrew at run time, curl from the SDK, no OpenSSL."""
import glob
import os
import re
import shutil
import subprocess

import pytest

from conftest import REPO

DARWIN = REPO / "tests/process/data/darwin"
UNIVERSAL = "-arch arm64 -arch x86_64 -mmacosx-version-min=13.0"


@pytest.fixture(scope="module")
def darwin_build(tmp_path_factory):
    if not shutil.which("clang++") or not shutil.which("moc", path="/usr/lib/qt6/libexec"):
        pytest.skip("needs clang++ and Qt's code generators")
    base = tmp_path_factory.mktemp("darwin")
    brew = base / "homebrew"
    # Homebrew's utf8proc has one architecture: the package must take the recipe's (brew/utf8proc). Only Qt's
    # version file is read, the rest stand in by name.
    for path in ("include/utf8proc.h", "lib/libutf8proc.a", "lib/libutf8proc.dylib", "lib/libcurl.dylib",
                 "lib/libcrypto.dylib", "utf8proc/include/utf8proc.h", "utf8proc/lib/libutf8proc.a",
                 "lib/cmake/Qt6/Qt6ConfigVersion.cmake"):
        (brew / path).parent.mkdir(parents=True, exist_ok=True)
        (brew / path).write_text("set(PACKAGE_VERSION 6.6.0)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
    shutil.copy(DARWIN / "Qt6Config.cmake", brew / "lib/cmake/Qt6")
    cmake = f'[ "$1" = --build ] && exit 1; exec {shutil.which("cmake")} "$@"'  # stops before building
    tools = ("macdeployqt", "pkgbuild", "productbuild", "plutil", "otool", "lsbom", "pkgutil", "codesign")
    for tool, text in [(t, "exit 1") for t in tools] + [
            ("lipo", "echo x86_64 arm64"), ("uname", "echo Darwin"), ("cmake", cmake)]:
        (base / tool).write_text(f"#!/bin/sh\n{text}\n")
        (base / tool).chmod(0o755)
    env = {k: v for k, v in os.environ.items() if not k.startswith("KORVANE_")}
    env.update(PATH=f"{base}:{os.environ['PATH']}", CMAKE_TOOLCHAIN_FILE=str(DARWIN / "toolchain.cmake"),
               CMAKE_PREFIX_PATH=str(brew), KORVANE_PACKAGE_BUILD_DIR=str(base / "build"),
               KORVANE_UTF8PROC_PREFIX=str(brew / "utf8proc"), KORVANE_PKG_TEAM_ID="ABCDE12345")
    done = subprocess.run([REPO / "packaging/macos/build-pkg", "--unsigned"], env=env, capture_output=True, text=True,
                          timeout=300)
    assert (base / "build/build.ninja").exists(), done.stdout + done.stderr
    return brew, (base / "build/build.ninja").read_text(), (base / "build/CMakeCache.txt").read_text().splitlines()


@pytest.mark.parametrize("target, needs, forbidden", [
    ("korvane-client", ["-lcurl", "{brew}/utf8proc/lib/libutf8proc.a"], ["{brew}/lib/libutf8proc"]),
    ("KorvaneMenuBar", ["QtWidgets"], ["curl", "utf8proc", "RuzEdaRoredoCore"]),
])
def test_the_universal_package_build_links_only_the_system_and_static_archives(darwin_build, target, needs, forbidden):
    brew, build_ninja, cache = darwin_build
    flags = re.findall(r"^  FLAGS = (.*)$", build_ninja, re.M)
    assert flags and all(UNIVERSAL in line for line in flags) and "KORVANE_PKG_TEAM_ID:STRING=ABCDE12345" in cache
    # The Ninja statement that links the target, with its variables, as one list of words.
    match = re.search(rf"^build [^\n]*CXX_EXECUTABLE_LINKER__{re.escape(target)}_[^\n]*\n((?:  [^\n]*\n)*)",
                      build_ninja, re.M)
    words = match.group(0).split()
    text = " ".join(words)
    assert UNIVERSAL in text
    assert "/opt/homebrew" not in text and "/usr/local" not in text and not re.search(r"ssl|crypto", text, re.I)
    assert all(w.endswith(".a") or ".framework/" in w for w in words if w.startswith(str(brew))), text
    assert all(p.format(brew=brew) in text for p in needs) and not any(p.format(brew=brew) in text for p in forbidden)


def test_the_utf8proc_recipe_builds_one_static_archive_for_both_macs_and_macos_13(tmp_path):
    recipe, prefix = REPO / "packaging/macos/build-utf8proc", tmp_path / "utf8proc"
    (tmp_path / "other.tar.gz").write_bytes(b"not the release")
    done = subprocess.run([recipe, "--archive", tmp_path / "other.tar.gz", prefix], capture_output=True, text=True)
    assert done.returncode == 1 and "not the pinned" in done.stderr and not prefix.exists()
    # The release archive as Debian ships it (byte for byte upstream's), e.g. from `apt-get source utf8proc`.
    archive = os.environ.get("KORVANE_UTF8PROC_ARCHIVE", "/tmp/mac-cross/cache/apt/src/utf8proc_2.8.0.orig.tar.gz")
    sdks = sorted(glob.glob(os.environ.get("KORVANE_MAC_SDK", "/tmp/mac/sdk/MacOSX*.sdk")))
    lipo, objdump = shutil.which("llvm-lipo-14"), shutil.which("llvm-objdump-14")
    if not (os.path.isfile(archive) and sdks and shutil.which("clang") and lipo and objdump):
        pytest.skip("needs utf8proc's release archive, a macOS SDK, clang and LLVM 14's lipo and objdump")
    env = dict(os.environ, CC="clang", AR="llvm-ar-14", LIPO=lipo, SDKROOT=sdks[-1])
    done = subprocess.run([recipe, "--archive", archive, prefix], env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert sorted(str(p.relative_to(prefix)) for p in prefix.rglob("*") if p.is_file()) == [
        ".korvane-utf8proc", "include/utf8proc.h", "lib/libutf8proc.a"]
    archs = subprocess.run([lipo, "-archs", prefix / "lib/libutf8proc.a"], capture_output=True, text=True).stdout
    for arch in ("arm64", "x86_64"):
        commands = subprocess.run([objdump, "--macho", "--private-headers", f"--arch={arch}",
                                   prefix / "lib/libutf8proc.a"], capture_output=True, text=True).stdout
        assert re.findall(r"cmd LC_BUILD_VERSION\n.*\n\s+platform (\S+)\n.*\n\s+minos (\S+)", commands) == [
            ("macos", "13.0")] and sorted(archs.split()) == ["arm64", "x86_64"], archs + commands
