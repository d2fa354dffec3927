#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ShareJSONCoding.hpp"
#include "ShareTime.hpp"
#include "ShareToken.hpp"

namespace lumo {

/// Reads tokens the way the host application hands them over: pasted JSON, a bare JSON Web
/// Token, or a "lumoshare://auth?" callback link.
namespace TokenImport {

/// A token from pasted text: a JSON object with the access token (and refresh token,
/// "expires_in"), or a bare three-piece JSON Web Token.
std::optional<ShareToken> parse(std::string_view text, const ShareClock& now = systemClock());

/// A token from a "lumoshare://auth?access_token=…&refresh_token=…" link.
std::optional<ShareToken> token(std::string_view fromCallbackURL,
                                const ShareClock& now = systemClock());

/// A token however it was pasted: the callback link, or text `parse` reads; white space around
/// it is ignored.
std::optional<ShareToken> anyForm(std::string_view text, const ShareClock& now = systemClock());

/// The claims of a JSON Web Token's payload; an empty object when it has none that decode.
JSONValue jwtClaims(std::string_view token);

}  // namespace TokenImport
}  // namespace lumo
