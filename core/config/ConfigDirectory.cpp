#include "config/ConfigDirectory.hpp"

#include "config/ClientPaths.hpp"
#include "support/AtomicFile.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace ConfigDirectory {

void sweepLeftovers(const std::filesystem::path& dir) {
    AtomicFile::sweepLeftovers(dir, ClientPaths::fileNames);
}

bool othersMayWrite(const std::filesystem::path& dir) {
    struct stat info {};
    return ::stat(dir.c_str(), &info) == 0 && othersMayWrite(info);
}

bool othersMayWrite(const struct stat& info, bool stickyProtects) {
    bool trustedOwner = info.st_uid == 0 || info.st_uid == ::geteuid();
    bool sticky = stickyProtects && (info.st_mode & S_ISVTX) != 0;
    return !trustedOwner || ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !sticky);
}

} // namespace ConfigDirectory
