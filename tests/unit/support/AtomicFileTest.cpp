// Whole-file replacement: the exact mode, and for each failing step its report and an untouched old file.
#include "support/AtomicFile.hpp"

#include "ScratchDirectory.hpp"
#include "TestFiles.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using AtomicFile::Step;

fs::path temporaryOf(const fs::path& path) {
    fs::path tmp = path;
    tmp += ".tmp";
    return tmp;
}

TEST(AtomicFile, WritesTheBytesWithExactlyTheMode) {
    for (mode_t mask : {mode_t(0), mode_t(022), mode_t(077), mode_t(0777)}) {
        for (mode_t mode : {mode_t(0600), mode_t(0644), mode_t(0640), mode_t(0400)}) {
            ScratchDirectory dir;
            fs::path path = dir / "file.json";
            AtomicFile::Result result;
            {
                UmaskGuard guard(mask);
                result = AtomicFile::write(path, "{\"a\": 1}\n", mode);
            }
            ASSERT_TRUE(result.ok()) << "umask " << std::oct << mask << " mode " << mode;
            EXPECT_EQ(result.failedStep, Step::none);
            EXPECT_EQ(result.error, 0);
            EXPECT_EQ(readFile(path), "{\"a\": 1}\n");
            EXPECT_EQ(modeOf(path), mode) << "umask " << std::oct << mask;
            EXPECT_FALSE(fs::exists(temporaryOf(path)));
        }
    }
}

TEST(AtomicFile, ReplacesAnOlderFileAndItsMode) {
    ScratchDirectory dir;
    fs::path path = dir / "status.json";
    writeFile(path, std::string(10000, 'o'));
    ::chmod(path.c_str(), 0666);

    ASSERT_TRUE(AtomicFile::write(path, "short", 0600).ok());
    EXPECT_EQ(readFile(path), "short");
    EXPECT_EQ(modeOf(path), 0600u);

    ASSERT_TRUE(AtomicFile::write(path, "", 0644).ok());
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(modeOf(path), 0644u);
}

TEST(AtomicFile, WritesLargeAndBinaryContentWhole) {
    ScratchDirectory dir;
    std::string bytes;
    for (int i = 0; i < (3 << 20); ++i) {
        bytes += static_cast<char>(i * 7 % 256);
    }
    ASSERT_TRUE(AtomicFile::write(dir / "big", bytes, 0644).ok());
    EXPECT_EQ(readFile(dir / "big"), bytes);
}

TEST(AtomicFile, CreatesMissingParentDirectoriesWith0755) {
    for (mode_t mask : {mode_t(0), mode_t(077)}) {
        ScratchDirectory dir;
        fs::path path = dir / "x" / "y" / "file";
        UmaskGuard guard(mask);
        AtomicFile::Result result = AtomicFile::write(path, "v", 0600);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(readFile(path), "v");
        EXPECT_EQ(result.temporaryPath, temporaryOf(path));
        EXPECT_EQ(modeOf(dir / "x"), 0755u) << "umask " << std::oct << mask;
        EXPECT_EQ(modeOf(dir / "x" / "y"), 0755u) << "umask " << std::oct << mask;
    }
}

TEST(AtomicFile, StaleTemporaryFileIsReplaced) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    writeFile(temporaryOf(path), std::string(5000, 's'));
    ::chmod(temporaryOf(path).c_str(), 0666);
    ASSERT_TRUE(AtomicFile::write(path, "new", 0600).ok());
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_FALSE(fs::exists(temporaryOf(path)));
}

// The writer runs as root: whatever was planted at the temporary name, nothing behind it is written to.
TEST(AtomicFile, LeftoverAtTheTemporaryNameIsNeverWrittenThrough) {
    for (const char* kind : {"symlink", "hard link", "held open", "fifo"}) {
        ScratchDirectory dir;
        fs::path path = dir / "config.json";
        fs::path tmp = temporaryOf(path);
        fs::path victim = dir / "victim";
        writeFile(path, "old");
        writeFile(victim, "precious");
        ::chmod(victim.c_str(), 0640);
        int held = -1;
        if (kind == std::string("symlink")) {
            fs::create_symlink(victim, tmp);
        } else if (kind == std::string("hard link")) {
            fs::create_hard_link(victim, tmp);
        } else if (kind == std::string("held open")) {
            writeFile(tmp, "");
            held = ::open(tmp.c_str(), O_RDONLY);
        } else {
            ::mkfifo(tmp.c_str(), 0666);
            held = ::open(tmp.c_str(), O_RDONLY | O_NONBLOCK);
        }

        EXPECT_TRUE(AtomicFile::write(path, "secret", 0600).ok()) << kind;
        char byte = 0;
        EXPECT_LE(::read(held, &byte, 1), 0) << kind;
        ::close(held);
        EXPECT_EQ(readFile(victim), "precious") << kind;
        EXPECT_EQ(modeOf(victim), 0640u) << kind;
        ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << kind;
        EXPECT_EQ(readFile(path), "secret") << kind;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2)
            << kind << ": only file and victim";
    }
}

TEST(AtomicFile, TemporaryThatIsADirectoryFailsTheWriteStep) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    writeFile(path, "old content");
    ::chmod(path.c_str(), 0644);
    fs::create_directory(temporaryOf(path));

    AtomicFile::Result result = AtomicFile::write(path, "new", 0600);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.failedStep, Step::writeTemporary);
    EXPECT_EQ(result.error, EISDIR);
    EXPECT_EQ(result.temporaryPath, temporaryOf(path));
    EXPECT_EQ(readFile(path), "old content");
    EXPECT_EQ(modeOf(path), 0644u);
}

TEST(AtomicFile, TargetThatIsANonEmptyDirectoryFailsTheRenameStep) {
    ScratchDirectory dir;
    fs::path path = dir / "config.json";
    fs::create_directories(path / "child");

    AtomicFile::Result result = AtomicFile::write(path, "new", 0600);
    EXPECT_EQ(result.failedStep, Step::rename);
    EXPECT_EQ(result.error, EISDIR);
    EXPECT_FALSE(fs::exists(temporaryOf(path)));
    EXPECT_TRUE(fs::is_directory(path / "child"));
}

TEST(AtomicFile, ParentThatIsAFileFailsTheDirectoryStep) {
    ScratchDirectory dir;
    writeFile(dir / "plain", "data");
    for (const fs::path& path : {dir / "plain" / "file", dir / "plain" / "deeper" / "file"}) {
        AtomicFile::Result result = AtomicFile::write(path, "new", 0600);
        EXPECT_EQ(result.failedStep, Step::createDirectory) << path;
        EXPECT_TRUE(result.error == ENOTDIR || result.error == EEXIST) << path << ": " << result.error;
        EXPECT_EQ(readFile(dir / "plain"), "data");
    }
}

TEST(AtomicFile, DirectoryNotWritableForTheUserFailsTheWriteStep) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    ScratchDirectory dir;
    fs::permissions(dir.path(), fs::perms(0755));
    fs::path path = dir / "status.json";
    writeFile(path, "old");

    std::fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(100);
        }
        AtomicFile::Result result = AtomicFile::write(path, "new", 0644);
        bool expected = result.failedStep == Step::writeTemporary && result.error == EACCES;
        ::_exit(expected ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_FALSE(fs::exists(temporaryOf(path)));
}

} // namespace
