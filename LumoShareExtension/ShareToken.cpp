#include "ShareToken.hpp"

namespace lumo {

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
