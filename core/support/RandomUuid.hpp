// Names nobody can guess or have taken in advance, such as a private working directory's.
#pragma once

#include <string>
#include <string_view>

namespace RandomUuid {

// A random (version 4) UUID in its canonical upper-case form, 36 characters.
std::string generate();

// True for any UUID in that form: 32 upper-case hexadecimal digits in groups of 8, 4, 4, 4 and 12, joined by
// "-".
bool isCanonical(std::string_view text);

} // namespace RandomUuid
