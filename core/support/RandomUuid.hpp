// Names nobody can guess or have taken in advance, such as a private working directory's.
#pragma once

#include <string>

namespace RandomUuid {

// A random (version 4) UUID in its canonical upper-case form, 36 characters.
std::string generate();

} // namespace RandomUuid
