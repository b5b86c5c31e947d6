// How the fallible helpers say that they failed: one value a caller words its own message from.
#pragma once

#include <string>
#include <system_error>

struct Failure {
    std::string text; // ready for a message: mostly "{path}: {the C library's text}"
    int error = 0;    // the errno behind it; 0 when there is none

    // "{what}: {strerror(error)}", worded as std::system_error words it.
    static Failure of(const std::string& what, int error) {
        return Failure{what + ": " + std::generic_category().message(error), error};
    }
};
