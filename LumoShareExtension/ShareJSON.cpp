#include "ShareJSON.hpp"

namespace lumo {

std::string ShareJSONEncoder::dump(const JSONValue& value) {
  return value.dump(-1, ' ', false, JSONValue::error_handler_t::replace);
}

JSONValue ShareJSONDecoder::parse(std::string_view text) {
  try {
    return JSONValue::parse(text);
  } catch (const JSONValue::parse_error& error) {
    throw ShareJSONError(ShareJSONError::Kind::malformed, "", error.what());
  }
}

}  // namespace lumo
