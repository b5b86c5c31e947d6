// korvane-client: the administrator's command line and, as "run", the launchd daemon.
#include "Dispatch.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    Dispatch::run(std::vector<std::string>(argv + 1, argv + argc));
}
