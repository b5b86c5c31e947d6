// What posix_spawn needs that each platform spells its own way (SpawnPlatformMac.mm,
// SpawnPlatformLinux.cpp). Only the standard streams reach a child: whatever else this process holds open
// (libcurl's sockets, a file being written) is none of its business, even where a library forgot
// O_CLOEXEC.
#pragma once

#include <spawn.h>

namespace SpawnPlatform {

// This process's environment block.
char** environment();
// Added to the spawn flags.
short closeOthersFlag();
// File actions that keep the standard stream `fd` open in the child and close every other descriptor:
// 0, or the errno of the action that failed.
int keepInherited(posix_spawn_file_actions_t* actions, int fd);
int closeOthers(posix_spawn_file_actions_t* actions);

} // namespace SpawnPlatform
