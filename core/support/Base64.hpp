// Standard Base64 (RFC 4648 alphabet, padding, no line breaks).
#pragma once

#include <string>
#include <string_view>

namespace Base64 {
std::string encode(std::string_view bytes);
}
