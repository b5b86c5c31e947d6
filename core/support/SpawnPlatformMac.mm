#include "support/SpawnPlatform.hpp"

#include <crt_externs.h>

namespace SpawnPlatform {

// A library cannot rely on `environ` being linked in on macOS.
char** environment() {
    return *_NSGetEnviron();
}

// The flag closes every descriptor the file actions do not name, so the inherited streams are named.
short closeOthersFlag() {
    return POSIX_SPAWN_CLOEXEC_DEFAULT;
}

int keepInherited(posix_spawn_file_actions_t* actions, int fd) {
    return ::posix_spawn_file_actions_addinherit_np(actions, fd);
}

int closeOthers(posix_spawn_file_actions_t*) {
    return 0;
}

} // namespace SpawnPlatform
