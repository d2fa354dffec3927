#include "ShareDateFormat.hpp"

#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <map>
#include <memory>

namespace lumo::ShareDateFormat {
namespace {

/// Formatters are costly to build and not safe to share between threads: one per thread and
/// pattern.
icu::SimpleDateFormat* formatter(const char* pattern) {
  thread_local std::map<std::string, std::unique_ptr<icu::SimpleDateFormat>> formatters;
  auto& slot = formatters[pattern];
  if (!slot) {
    UErrorCode status = U_ZERO_ERROR;
    auto created = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern),
                                                           icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) return nullptr;
    created->adoptTimeZone(icu::TimeZone::createDefault());
    slot = std::move(created);
  }
  return slot.get();
}

}  // namespace

std::string localTime(std::int64_t epochMs, const char* pattern) {
  auto* format = formatter(pattern);
  if (format == nullptr) return {};
  icu::UnicodeString text;
  format->format(static_cast<UDate>(epochMs), text);
  std::string result;
  text.toUTF8String(result);
  return result;
}

}  // namespace lumo::ShareDateFormat
