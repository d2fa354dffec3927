#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Built-in constants of the system: limits and identifiers that several components apply.
namespace lumo::ShareApple {

inline constexpr char defaultAppGroupIdentifier[] = "group.com.lumo.share";
inline constexpr char keychainService[] = "com.lumo.share.apple.token";
inline constexpr char keychainAccount[] = "user";
inline constexpr char urlScheme[] = "lumoshare";
inline constexpr char macosHostBundleIdentifier[] = "lumo.share";

// Deployment addresses. Their hosts are build options (LUMO_API_ORIGIN, LUMO_SHARE_PAGE_ORIGIN,
// LUMO_CONSOLE_ORIGIN); the paths are fixed.
extern const std::string_view defaultAPIBase;   ///< "<api origin>/api/v1"
extern const std::string_view sharePageBase;    ///< "<share page origin>/"
extern const std::string_view consoleDocsURL;   ///< "<console origin>/console/docs"
extern const std::string_view consoleLinksURL;  ///< "<console origin>/console/links"

inline constexpr std::size_t maxItems = 50;
inline constexpr std::int64_t maxTextBytes = 16384;
inline constexpr std::size_t maxTitleCharacters = 200;
inline constexpr std::size_t maxCommentCharacters = 2048;
inline constexpr std::size_t maxChatMessages = 200;
inline constexpr std::int64_t maxChatMessageBytes = 8192;

inline constexpr std::int64_t defaultExpiresInSeconds = 604800;
inline constexpr std::int64_t minExpiresInSeconds = 86400;
inline constexpr std::int64_t anonymousMaxExpiresInSeconds = 86400;
inline constexpr std::int64_t anonymousActiveLimit = 5;
inline constexpr std::int64_t anonymousMaxFileBytes = 10485760;
inline constexpr std::int64_t maxUploadBytes = 104857600;
inline constexpr const char* anonymousForbiddenMetadata[] = {"slug", "password", "allowed_emails",
                                                             "exp_days"};
inline constexpr std::size_t maxPendingShares = 100;
inline constexpr std::int64_t maxAttemptsBeforeManual = 8;
/// The longest wait before a share is tried again: the queue's back-off cap, and the bound on a
/// publish's retry wait whatever a reply's "Retry-After" asks for.
inline constexpr std::int64_t maxRetryDelayMs = 3600000;
inline constexpr std::size_t maxRecentUploads = 50;
inline constexpr std::size_t bindMaxBatchSize = 20;
inline constexpr std::int64_t noticePageLimit = 20;
inline constexpr std::int64_t noticeMaxPageLimit = 50;

}  // namespace lumo::ShareApple
