"""The macOS link lines, from CMake configured for Darwin against a Homebrew-like prefix: the programs load
nothing from that prefix at run time (static archives only; Qt's frameworks, which macdeployqt copies into
the app), curl comes from the SDK and nothing links OpenSSL."""
import re
import shutil
import subprocess

import pytest

from conftest import REPO

DARWIN = REPO / "tests/process/data/darwin"


@pytest.fixture(scope="module")
def darwin_build(tmp_path_factory):
    if not shutil.which("clang++") or not shutil.which("moc", path="/usr/lib/qt6/libexec"):
        pytest.skip("needs clang++ and Qt's code generators")
    base = tmp_path_factory.mktemp("darwin")
    brew = base / "homebrew"
    (brew / "include").mkdir(parents=True)
    (brew / "include/utf8proc.h").touch()
    (brew / "lib/cmake/Qt6").mkdir(parents=True)
    for library in ("libutf8proc.a", "libutf8proc.dylib", "libcurl.dylib", "libcrypto.dylib"):
        (brew / "lib" / library).touch()
    shutil.copy(DARWIN / "Qt6Config.cmake", brew / "lib/cmake/Qt6")
    (brew / "lib/cmake/Qt6/Qt6ConfigVersion.cmake").write_text(
        "set(PACKAGE_VERSION 6.6.0)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
    done = subprocess.run(["cmake", "-G", "Ninja", "-S", str(REPO), "-B", str(base / "build"),
                           f"-DCMAKE_TOOLCHAIN_FILE={DARWIN / 'toolchain.cmake'}", f"-DCMAKE_PREFIX_PATH={brew}",
                           "-DKORVANE_BUILD_MENUBAR=ON", "-DKORVANE_BUILD_TESTS=OFF"],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    return brew, (base / "build/build.ninja").read_text()


@pytest.mark.parametrize("target, needs, forbidden", [
    ("korvane-client", ["-lcurl", "libutf8proc.a"], []),
    ("KorvaneMenuBar", ["QtWidgets"], ["curl", "utf8proc", "RuzEdaRoredoCore"]),
])
def test_darwin_link_line_names_only_the_system_and_static_archives(darwin_build, target, needs, forbidden):
    brew, build_ninja = darwin_build
    # The Ninja statement that links the target, with its variables, as one list of words.
    match = re.search(rf"^build [^\n]*CXX_EXECUTABLE_LINKER__{re.escape(target)}_[^\n]*\n((?:  [^\n]*\n)*)",
                      build_ninja, re.M)
    words = match.group(0).split()
    text = " ".join(words)
    assert "-mmacosx-version-min=13.0" in words
    assert "/opt/homebrew" not in text and "/usr/local" not in text and not re.search(r"ssl|crypto", text, re.I)
    assert all(w.endswith(".a") or ".framework/" in w for w in words if w.startswith(str(brew))), text
    assert all(part in text for part in needs) and not any(part in text for part in forbidden), text
