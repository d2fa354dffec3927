#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ShareJSONError.hpp"
#include "ShareStringMap.hpp"

// The typed bridge between records and JSON values. A record lists its keys once, in the order
// they are written:
//   static auto jsonKeys(auto& self) { return std::tuple(JSONKey("id", self.id), ...); }
// and gets strict decoding of required keys, lenient absent/null optionals and insertion-ordered
// keys on output for free. A record whose form is not a plain list of keys provides
//   static Record decode(const JSONObjectReader&);   JSONValue encode() const;
// instead (either or both), usually built on `decodeJSONKeys` and `encodeJSONKeys`.
namespace lumo {

/// A JSON value whose objects keep their key order.
using JSONValue = nlohmann::ordered_json;

class JSONObjectReader;
class JSONObjectWriter;

namespace detail {
std::string decodeString(const JSONValue& value, const std::string& path);
std::int64_t decodeInt64(const JSONValue& value, const std::string& path);
bool decodeBool(const JSONValue& value, const std::string& path);
double decodeDouble(const JSONValue& value, const std::string& path);
ShareStringMap decodeStringMap(const JSONValue& value, const std::string& path);
void requireArray(const JSONValue& value, const std::string& path);
JSONValue encodeDouble(double value);

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsStringKeyedMap : std::false_type {};
template <class T>
struct IsStringKeyedMap<std::map<std::string, T>> : std::true_type {};
void requireObject(const JSONValue& value, const std::string& path);

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
concept HasDecode = requires(const JSONObjectReader& reader) {
  { T::decode(reader) } -> std::same_as<T>;
};
template <class T>
concept HasEncode = requires(const T& value) {
  { value.encode() } -> std::same_as<JSONValue>;
};
}  // namespace detail

template <class T>
T decodeJSONValue(const JSONValue& value, const std::string& path);
template <class Record>
Record decodeJSONKeys(const JSONObjectReader& reader);
template <class Record>
JSONValue encodeJSONKeys(const Record& record);

/// Reads the keys of one JSON object; fails with ShareJSONError when the value is no object.
class JSONObjectReader {
 public:
  JSONObjectReader(const JSONValue& object, std::string path);

  /// The value of a key that must be present and not null.
  template <class T>
  T required(const char* key) const {
    const auto* value = member(key);
    if (value == nullptr) {
      throw ShareJSONError(ShareJSONError::Kind::missingKey, childPath(key),
                           "required key missing");
    }
    return decodeJSONValue<T>(*value, childPath(key));
  }

  /// The value of an optional key; missing or null reads as absent.
  template <class T>
  std::optional<T> optional(const char* key) const {
    const auto* value = member(key);
    if (value == nullptr) return std::nullopt;
    return decodeJSONValue<T>(*value, childPath(key));
  }

  /// The value of a key that has a decoding default; missing or null gives `fallback`.
  template <class T>
  T valueOr(const char* key, T fallback) const {
    auto value = optional<T>(key);
    return value ? std::move(*value) : std::move(fallback);
  }

  const std::string& path() const { return path_; }

 private:
  const JSONValue* member(const char* key) const;
  std::string childPath(const char* key) const;

  const JSONValue& object_;
  std::string path_;
};

template <class T>
T decodeJSONValue(const JSONValue& value, const std::string& path) {
  if constexpr (std::is_same_v<T, std::string>) {
    return detail::decodeString(value, path);
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    return detail::decodeInt64(value, path);
  } else if constexpr (std::is_same_v<T, bool>) {
    return detail::decodeBool(value, path);
  } else if constexpr (std::is_same_v<T, double>) {
    return detail::decodeDouble(value, path);
  } else if constexpr (std::is_same_v<T, ShareStringMap>) {
    return detail::decodeStringMap(value, path);
  } else if constexpr (detail::IsVector<T>::value) {
    detail::requireArray(value, path);
    T elements;
    elements.reserve(value.size());
    for (std::size_t index = 0; index < value.size(); ++index) {
      elements.push_back(decodeJSONValue<typename T::value_type>(
          value[index], path + "[" + std::to_string(index) + "]"));
    }
    return elements;
  } else if constexpr (detail::IsStringKeyedMap<T>::value) {
    detail::requireObject(value, path);
    T map;
    for (const auto& [key, element] : value.items()) {
      map.emplace(key, decodeJSONValue<typename T::mapped_type>(element, path + "." + key));
    }
    return map;
  } else if constexpr (detail::HasDecode<T>) {
    return T::decode(JSONObjectReader(value, path));
  } else {
    return decodeJSONKeys<T>(JSONObjectReader(value, path));
  }
}

template <class T>
JSONValue encodeJSONValue(const T& value) {
  if constexpr (std::is_same_v<T, double>) {
    return detail::encodeDouble(value);
  } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::int64_t> ||
                       std::is_same_v<T, bool>) {
    return JSONValue(value);
  } else if constexpr (std::is_same_v<T, ShareStringMap>) {
    auto object = JSONValue::object();
    for (const auto& [key, text] : value) object[key] = text;
    return object;
  } else if constexpr (detail::IsVector<T>::value) {
    auto array = JSONValue::array();
    for (const auto& element : value) array.push_back(encodeJSONValue(element));
    return array;
  } else if constexpr (detail::IsStringKeyedMap<T>::value) {
    auto object = JSONValue::object();
    for (const auto& [key, element] : value) object[key] = encodeJSONValue(element);
    return object;
  } else if constexpr (detail::HasEncode<T>) {
    return value.encode();
  } else {
    return encodeJSONKeys(value);
  }
}

/// Builds one JSON object, key by key, in the order the keys are set.
class JSONObjectWriter {
 public:
  template <class T>
  JSONObjectWriter& set(const char* key, const T& value) {
    object_[key] = encodeJSONValue(value);
    return *this;
  }

  /// Writes the key only when the value is present: absent optionals are never `null`.
  template <class T>
  JSONObjectWriter& setOptional(const char* key, const std::optional<T>& value) {
    if (value) set(key, *value);
    return *this;
  }

  JSONValue take() { return std::move(object_); }

 private:
  JSONValue object_ = JSONValue::object();
};

/// One key of a record and the member that holds it. The member's type gives the rule: a
/// `std::optional` member may be missing or null on reading and is left out while absent; any
/// other member is always written, and required on reading unless the key is `defaulted`.
template <class Member, bool defaulted = false>
struct JSONKey {
  constexpr JSONKey(const char* key, Member& field) : name(key), member(field) {}

  const char* name;
  Member& member;

  void read(const JSONObjectReader& reader) const {
    if constexpr (defaulted) {
      if (auto value = reader.optional<Member>(name)) member = std::move(*value);
    } else if constexpr (detail::IsOptional<Member>::value) {
      member = reader.optional<typename Member::value_type>(name);
    } else {
      member = reader.required<Member>(name);
    }
  }
  void write(JSONObjectWriter& writer) const {
    if constexpr (detail::IsOptional<std::remove_const_t<Member>>::value) {
      writer.setOptional(name, member);
    } else {
      writer.set(name, member);
    }
  }
};

/// A key that may be missing or null on reading, which leaves the member at its declared
/// default; always written.
template <class Member>
JSONKey<Member, true> defaultedJSONKey(const char* key, Member& field) {
  return {key, field};
}

/// Decodes the keys a record lists in `jsonKeys`, in their order, over a default record.
template <class Record>
Record decodeJSONKeys(const JSONObjectReader& reader) {
  Record record{};
  std::apply([&reader](const auto&... keys) { (keys.read(reader), ...); },
             Record::jsonKeys(record));
  return record;
}

/// Encodes the keys a record lists in `jsonKeys`, in their order.
template <class Record>
JSONValue encodeJSONKeys(const Record& record) {
  JSONObjectWriter writer;
  std::apply([&writer](const auto&... keys) { (keys.write(writer), ...); },
             Record::jsonKeys(record));
  return writer.take();
}

}  // namespace lumo
