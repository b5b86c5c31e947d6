// A secret sent to a peer, found again in the peer's text in whatever form the request carried it.
#pragma once

#include <string>
#include <string_view>

namespace SecretForms {

// `text` with `shown` in place of every form of `secret` a peer can echo: the secret itself; Base64 of
// "user:secret" (a Basic credential) as a whole; the secret inside any Base64 text, at each of the three
// offsets a byte can have, together with the Base64 groups it shares with its neighbours; and each of these
// with any of its bytes percent-encoded, in either case of the hex digits.
std::string hidden(std::string_view text, std::string_view user, std::string_view secret,
                   std::string_view shown);

} // namespace SecretForms
