// Compiled on its own by a test that expects the compiler's complaint: a failure value dropped unread.
#include "support/Expected.hpp"

Expected<void> attempt();

void dropsIt() {
    attempt();
}
