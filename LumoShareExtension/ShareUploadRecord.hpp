#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

namespace ClaimStateValues {
inline constexpr char unbound[] = "unbound";
inline constexpr char bound[] = "bound";
inline constexpr char failed[] = "failed";
}  // namespace ClaimStateValues

/// A published share, kept in "recent-uploads.json". Reading accepts the layouts older versions
/// and the host application wrote; writing always uses the current one.
struct ShareUploadRecord {
  std::string clientShareId;
  std::string kind;  ///< "link" for links, documents otherwise
  std::string slug;
  std::string shortUrl;
  std::string title;
  std::int64_t createdAtMs = 0;  ///< upload time
  std::int64_t expiresAtMs = 0;
  bool anonymous = false;
  std::optional<std::string> claimToken;
  std::optional<std::int64_t> boundAtMs;
  std::optional<std::string> bindError;  ///< why binding failed for good
  std::optional<std::string> consoleUrl;
  std::string claimState = ClaimStateValues::unbound;  ///< one of ClaimStateValues

  /// An anonymous upload whose claim token has not been bound or refused yet.
  bool needsBind() const;
  bool isExpiredForBind(std::int64_t nowMs) const { return nowMs >= expiresAtMs; }

  /// The claim state implied by the bind fields: "bound", "unbound" or "failed".
  static std::string derivedClaimState(const std::optional<std::int64_t>& boundAtMs,
                                       const std::optional<std::string>& bindError);
  /// The console page for a share kind.
  static std::string consoleUrlFor(const std::string& kind);

  static ShareUploadRecord decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const ShareUploadRecord&) const = default;
};

}  // namespace lumo
