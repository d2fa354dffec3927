#include "ShareUploadRecord.hpp"

#include <limits>

#include "SaturatingMath.hpp"
#include "ShareApple.hpp"
#include "ShareUUID.hpp"
#include "Url.hpp"

namespace lumo {
namespace {

constexpr std::int64_t anonymousLifetimeMs = ShareApple::anonymousMaxExpiresInSeconds * 1000;

/// The value of the first of `keys` that is present and not null.
template <class T>
std::optional<T> firstOf(const JSONObjectReader& reader, std::initializer_list<const char*> keys) {
  for (const auto* key : keys) {
    if (auto value = reader.optional<T>(key)) return value;
  }
  return std::nullopt;
}

std::string slugFromShortUrl(const std::optional<std::string>& shortUrl) {
  if (!shortUrl) return {};
  const auto url = Url::parse(*shortUrl);
  if (!url) return {};
  auto component = url->lastPathComponent();
  return component == "/" ? std::string() : component;
}

}  // namespace

bool ShareUploadRecord::needsBind() const {
  return claimToken && !claimToken->empty() && !boundAtMs && !bindError;
}

std::string ShareUploadRecord::derivedClaimState(const std::optional<std::int64_t>& boundAtMs,
                                                 const std::optional<std::string>& bindError) {
  if (boundAtMs) return ClaimStateValues::bound;
  return bindError ? ClaimStateValues::failed : ClaimStateValues::unbound;
}

std::string ShareUploadRecord::consoleUrlFor(const std::string& kind) {
  return std::string(kind == "link" ? ShareApple::consoleLinksURL : ShareApple::consoleDocsURL);
}

ShareUploadRecord ShareUploadRecord::decode(const JSONObjectReader& reader) {
  ShareUploadRecord record;
  const auto shortUrl = reader.optional<std::string>("shortUrl");
  const auto identifier = firstOf<std::string>(reader, {"clientShareId", "shareId"});
  record.clientShareId = identifier ? *identifier : makeLowercaseUUID();
  record.kind = reader.valueOr<std::string>("kind", "doc");
  record.slug =
      firstOf<std::string>(reader, {"slug", "shareId"}).value_or(slugFromShortUrl(shortUrl));
  record.shortUrl = shortUrl.value_or(std::string(ShareApple::sharePageBase) + record.slug);
  record.title = reader.valueOr<std::string>("title", "");
  record.createdAtMs =
      firstOf<std::int64_t>(reader, {"uploadedAtMs", "createdAt", "createdAtMs"}).value_or(0);
  record.claimToken = reader.optional<std::string>("claimToken");
  record.anonymous = reader.valueOr<bool>("anonymous", record.claimToken.has_value());
  record.expiresAtMs = firstOf<std::int64_t>(reader, {"expiresAt", "expiresAtMs"})
                           .value_or(saturatingAdd(record.createdAtMs, anonymousLifetimeMs));
  record.boundAtMs = firstOf<std::int64_t>(reader, {"boundAt", "boundAtMs"});
  record.bindError = reader.optional<std::string>("bindError");
  record.consoleUrl = reader.valueOr<std::string>("consoleUrl", consoleUrlFor(record.kind));
  record.claimState = reader.valueOr<std::string>(
      "claimState", derivedClaimState(record.boundAtMs, record.bindError));
  return record;
}

JSONValue ShareUploadRecord::encode() const {
  // The upload time is written twice ("uploadedAtMs" and "createdAt") for older readers;
  // the claim state is derived again on reading and never written.
  return JSONObjectWriter()
      .set("clientShareId", clientShareId)
      .set("kind", kind)
      .set("slug", slug)
      .set("shortUrl", shortUrl)
      .set("title", title)
      .set("uploadedAtMs", createdAtMs)
      .set("createdAt", createdAtMs)
      .set("expiresAt", expiresAtMs)
      .set("anonymous", anonymous)
      .setOptional("claimToken", claimToken)
      .setOptional("boundAt", boundAtMs)
      .setOptional("bindError", bindError)
      .setOptional("consoleUrl", consoleUrl)
      .take();
}

}  // namespace lumo
