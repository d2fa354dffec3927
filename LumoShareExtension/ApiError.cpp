#include "ApiError.hpp"

namespace lumo {

ApiError ApiError::decode(const JSONObjectReader& reader) {
  return ApiError{reader.required<std::string>("code"), reader.required<std::string>("message"),
                  reader.optional<bool>("retryable"),
                  reader.optional<std::map<std::string, std::string>>("details")};
}

JSONValue ApiError::encode() const {
  return JSONObjectWriter()
      .set("code", code)
      .set("message", message)
      .setOptional("retryable", retryable)
      .setOptional("details", details)
      .take();
}

}  // namespace lumo
