#pragma once

#include <cstdint>
#include <string>

namespace lumo::ShareDateFormat {

/// `epochMs` formatted with an LDML `pattern` ("yyyyMMdd-HHmmss") in the machine's current time
/// zone and the "en_US_POSIX" locale, so that digits and names never follow the user's locale.
std::string localTime(std::int64_t epochMs, const char* pattern);

}  // namespace lumo::ShareDateFormat
