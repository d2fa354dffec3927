#include "ShareToken.hpp"

namespace lumo {

ShareToken ShareToken::decode(const JSONObjectReader& reader) {
  return ShareToken{
      reader.required<std::string>("accessToken"), reader.optional<std::string>("refreshToken"),
      reader.optional<std::int64_t>("expiresAt"), reader.optional<std::string>("userId"),
      reader.required<std::int64_t>("updatedAt")};
}

JSONValue ShareToken::encode() const {
  return JSONObjectWriter()
      .set("accessToken", accessToken)
      .setOptional("refreshToken", refreshToken)
      .setOptional("expiresAt", expiresAt)
      .setOptional("userId", userId)
      .set("updatedAt", updatedAt)
      .take();
}

ShareTokenError::ShareTokenError(Kind kind, std::int32_t status) : kind_(kind), status_(status) {
  switch (kind_) {
    case Kind::keychain:
      message_ = "keychain error " + std::to_string(status_);
      break;
    case Kind::invalidData:
      message_ = "invalid token data";
      break;
    case Kind::noStorage:
      message_ = "no token storage";
      break;
  }
}

}  // namespace lumo
