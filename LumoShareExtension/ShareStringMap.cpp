#include "ShareStringMap.hpp"

#include <algorithm>

namespace lumo {

ShareStringMap::ShareStringMap(std::initializer_list<Entry> entries) {
  for (const auto& [key, value] : entries) set(key, value);
}

void ShareStringMap::set(std::string key, std::string value) {
  auto existing = std::find_if(entries_.begin(), entries_.end(),
                               [&key](const Entry& entry) { return entry.first == key; });
  if (existing != entries_.end()) {
    existing->second = std::move(value);
  } else {
    entries_.emplace_back(std::move(key), std::move(value));
  }
}

const std::string* ShareStringMap::find(std::string_view key) const {
  for (const auto& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

bool ShareStringMap::operator==(const ShareStringMap& other) const {
  if (size() != other.size()) return false;
  return std::all_of(entries_.begin(), entries_.end(), [&other](const Entry& entry) {
    const auto* value = other.find(entry.first);
    return value != nullptr && *value == entry.second;
  });
}

}  // namespace lumo
