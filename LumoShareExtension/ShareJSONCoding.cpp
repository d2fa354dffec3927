#include "ShareJSONCoding.hpp"

#include <cmath>
#include <limits>

namespace lumo {
namespace detail {
namespace {

[[noreturn]] void typeMismatch(const JSONValue& value, const std::string& path, const char* want) {
  throw ShareJSONError(ShareJSONError::Kind::typeMismatch, path,
                       std::string("expected ") + want + ", found " + value.type_name());
}

}  // namespace

std::string decodeString(const JSONValue& value, const std::string& path) {
  if (!value.is_string()) typeMismatch(value, path, "string");
  return value.get<std::string>();
}

std::int64_t decodeInt64(const JSONValue& value, const std::string& path) {
  if (value.is_number_integer() && !value.is_number_unsigned()) {
    return value.get<std::int64_t>();
  }
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<std::uint64_t>();
    if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      throw ShareJSONError(ShareJSONError::Kind::outOfRange, path, "integer does not fit int64");
    }
    return static_cast<std::int64_t>(unsignedValue);
  }
  typeMismatch(value, path, "integer");
}

bool decodeBool(const JSONValue& value, const std::string& path) {
  if (!value.is_boolean()) typeMismatch(value, path, "boolean");
  return value.get<bool>();
}

double decodeDouble(const JSONValue& value, const std::string& path) {
  if (!value.is_number()) typeMismatch(value, path, "number");
  return value.get<double>();
}

ShareStringMap decodeStringMap(const JSONValue& value, const std::string& path) {
  if (!value.is_object()) typeMismatch(value, path, "object");
  ShareStringMap map;
  for (const auto& [key, text] : value.items()) {
    map.set(key, decodeString(text, path + "." + key));
  }
  return map;
}

void requireObject(const JSONValue& value, const std::string& path) {
  if (!value.is_object()) typeMismatch(value, path, "object");
}

void requireArray(const JSONValue& value, const std::string& path) {
  if (!value.is_array()) typeMismatch(value, path, "array");
}

JSONValue encodeDouble(double value) {
  if (!std::isfinite(value)) {
    throw ShareJSONError(ShareJSONError::Kind::invalidValue, "", "non-finite number");
  }
  return JSONValue(value);
}

}  // namespace detail

JSONObjectReader::JSONObjectReader(const JSONValue& object, std::string path)
    : object_(object), path_(std::move(path)) {
  if (!object_.is_object()) {
    throw ShareJSONError(ShareJSONError::Kind::typeMismatch, path_,
                         std::string("expected object, found ") + object_.type_name());
  }
}

const JSONValue* JSONObjectReader::member(const char* key) const {
  auto found = object_.find(key);
  if (found == object_.end() || found->is_null()) return nullptr;
  return &*found;
}

std::string JSONObjectReader::childPath(const char* key) const {
  return path_.empty() ? std::string(key) : path_ + "." + key;
}

}  // namespace lumo
