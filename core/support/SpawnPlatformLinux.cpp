#include "support/SpawnPlatform.hpp"

#include <unistd.h>

extern char** environ;

namespace SpawnPlatform {

char** environment() {
    return environ;
}

short closeOthersFlag() {
    return 0;
}

// Inherited streams stay open by themselves.
int keepInherited(posix_spawn_file_actions_t*, int) {
    return 0;
}

// glibc: one action closes everything from the first descriptor after standard error.
int closeOthers(posix_spawn_file_actions_t* actions) {
    return ::posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1);
}

} // namespace SpawnPlatform
