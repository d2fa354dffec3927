// Taking a share back: "DELETE docs/<slug>" and "links/<slug>" with the account that owns the
// share, "DELETE anon/docs/<slug>" and "anon/links/<slug>" with the claim of a share that is
// still anonymous (header "X-Claim-Token"). The share's row goes and its slug is remembered as
// gone, so its page, file and preview answer 410 from then on; its blob is deleted. Taking back
// a share that is gone already answers the same success, and anyone else hears what a slug that
// never existed answers: 404.
#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "ServiceReplies.hpp"
#include "ShareService.hpp"
#include "ShareVocabularies.hpp"

namespace lumo::service {
namespace {

/// The header that carries an anonymous share's claim token.
constexpr const char* claimHeader = "X-Claim-Token";

/// The routes' share kinds with the path segment that names each.
constexpr std::array<std::pair<const char*, const char*>, 2> kindsAndPaths{
    {{"doc", "docs"}, {"link", "links"}}};

/// The one answer for a share the caller may not take back, whether or not it exists.
void failNotHeld(httplib::Response& response, const std::string& kind) {
  if (kind == "doc") return fail(response, 404, Codes::docNotFound, "no such document");
  fail(response, 404, Codes::linkNotFound, "no such link");
}

}  // namespace

void ShareService::deleteRoutes() {
  for (const auto& [kind, path] : kindsAndPaths) {
    const std::string shareKind = kind;
    server_->Delete(
        std::string("/api/v1/") + path + "/(.+)",
        [this, shareKind](const httplib::Request& request, httplib::Response& response) {
          const auto caller = signedIn(request, response);
          if (!caller) return;
          takeBack(response, shareKind, request.matches[1], {caller->account->id, std::nullopt});
        });
    server_->Delete(
        std::string("/api/v1/anon/") + path + "/(.+)",
        [this, shareKind](const httplib::Request& request, httplib::Response& response) {
          const auto claim = request.get_header_value(claimHeader);
          if (claim.empty()) return failNotHeld(response, shareKind);
          takeBack(response, shareKind, request.matches[1],
                   {std::nullopt, ServiceSecrets::secretHash(claim)});
        });
  }
}

void ShareService::takeBack(httplib::Response& response, const std::string& kind,
                            const std::string& slug, const ServiceStore::ShareHolder& holder) {
  // Slugs are letters, digits, "-" and "_": other text names no share, whatever the store would
  // make of it (PostgreSQL ends a text at a NUL).
  const bool slugText = !slug.empty() && std::all_of(slug.begin(), slug.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
  if (!slugText) return failNotHeld(response, kind);
  const auto moment = now();
  // The account's devices hear of it in the deletion's own transaction.
  const auto tellDevices = [&](const StoredShare& share) {
    if (share.owner) {
      store_.addNotices(*share.owner, noticeOf(share, NoticeTypeValues::shareDeleted, moment));
    }
  };
  const auto deletion = store_.deleteShare(slug, kind, holder, moment, tellDevices);
  if (deletion.outcome == ServiceStore::Deletion::notHeld) return failNotHeld(response, kind);
  // After the commit: a download that opened the file already reads it to its end, and the
  // sweep at start-up removes a blob that a crash right here would leave.
  if (deletion.share && deletion.share->blob) blobs_.remove(*deletion.share->blob);
  response.status = 200;
  response.set_content(
      ShareJSONEncoder::dump(
          JSONValue{{"success", true}, {"deleted", JSONValue{{"kind", kind}, {"slug", slug}}}}),
      "application/json");
}

}  // namespace lumo::service
