#include "ShareJSON.hpp"

namespace lumo {

std::string ShareJSONEncoder::dump(const JSONValue& value) {
  return value.dump(-1, ' ', false, JSONValue::error_handler_t::replace);
}

JSONValue ShareJSONDecoder::parse(std::string_view text) {
  try {
    return JSONValue::parse(text);
  } catch (const JSONValue::exception& error) {
    // parse_error for bad syntax, out_of_range for a number beyond double ("1e999").
    throw ShareJSONError(ShareJSONError::Kind::malformed, "", error.what());
  }
}

}  // namespace lumo
