#pragma once
// What the service reads from requests itself: JSON bodies, slugs, pairing codes and the notice
// query. Every function takes hostile input and answers a value, never throwing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "BindRecords.hpp"
#include "DeviceRecords.hpp"
#include "ShareJSON.hpp"

namespace lumo::service {

/// A JSON request body as `Record`; nothing when it is no valid JSON or not that record.
template <class Record>
std::optional<Record> parseBody(std::string_view body) {
  try {
    return ShareJSON::decoder().decode<Record>(body);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

/// Letters, digits, "-" and "_", from `minLength` to 64 characters.
bool isValidSlug(std::string_view slug, std::int64_t minLength);

/// A pairing code as a person may type it: letters upper-cased, spaces and dashes dropped.
std::string normalizedPairingCode(std::string_view typed);

/// Why a pairing claim is refused before its code is looked at, if it is.
std::optional<std::string> pairClaimProblem(const PairClaimRequest& request);

/// Why a bind request is refused as a whole, if it is.
std::optional<std::string> bindRequestProblem(const BindRequest& request);

/// "limit" (1…200, 50 when absent; larger values are cut to 200) and "since" (a notice cursor,
/// 0 when absent) of a notice listing.
struct NoticeQuery {
  std::int64_t limit = 50;
  std::int64_t since = 0;
};
/// Nothing when either value is not a decimal number in range.
std::optional<NoticeQuery> parseNoticeQuery(const std::optional<std::string>& limit,
                                            const std::optional<std::string>& since);

}  // namespace lumo::service
