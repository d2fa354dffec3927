#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumo {

/// A string-to-string map that remembers the order in which its keys were first set, so that
/// annotations such as a payload's `meta` are written in the order they were built. Equality is
/// that of a dictionary: the same keys with the same values, in any order.
class ShareStringMap {
 public:
  using Entry = std::pair<std::string, std::string>;

  ShareStringMap() = default;
  ShareStringMap(std::initializer_list<Entry> entries);

  /// Sets `key` to `value`; a key already present keeps its position.
  void set(std::string key, std::string value);
  /// The value of `key`, or nullptr.
  const std::string* find(std::string_view key) const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }

  bool operator==(const ShareStringMap& other) const;

 private:
  std::vector<Entry> entries_;
};

}  // namespace lumo
