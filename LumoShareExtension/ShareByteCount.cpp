#include "ShareByteCount.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace lumo::ShareByteCount {
namespace {

/// `value` with `decimals` decimals, trailing zeros (and a bare point) dropped.
std::string trimmed(double value, int decimals) {
  auto text = fmt::format("{:.{}f}", value, decimals);
  if (text.find('.') == std::string::npos) return text;
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

std::string fileStyle(std::int64_t bytes) {
  if (bytes <= 0) return "0 B";
  const auto size = static_cast<double>(bytes);
  // A unit takes over where the smaller one would round to 1000 of itself.
  if (size < 999.5e3) return fmt::format("{} KB", std::max(1.0, std::round(size / 1e3)));
  if (size < 999.95e6) return trimmed(size / 1e6, 1) + " MB";
  return trimmed(size / 1e9, 2) + " GB";
}

}  // namespace lumo::ShareByteCount
