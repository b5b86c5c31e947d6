// korvane-client: the administrator's command line and, as "run", the launchd daemon.
#include "Dispatch.hpp"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A reader that goes away (`korvane-client once | head -1`) must not end a cycle half-way: the write
    // to standard output fails and is ignored instead. Children get the default action back.
    std::signal(SIGPIPE, SIG_IGN);
    Dispatch::run(std::vector<std::string>(argv + 1, argv + argc));
}
