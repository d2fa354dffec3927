#include "ShareDeletion.hpp"

#include "AtomicFile.hpp"
#include "ShareAPIError.hpp"
#include "ShareAppleBundle.hpp"
#include "ShareHTTP.hpp"
#include "ShareL10n.hpp"
#include "ShareServerErrorCodes.hpp"
#include "ShareSettings.hpp"
#include "ShareTime.hpp"
#include "ShareURLError.hpp"
#include "ShareUploadClient.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

/// The header an anonymous share's claim token travels in.
constexpr const char* claimHeader = "X-Claim-Token";
/// How long a take-back that got no answer asks the share's page whether it is gone.
constexpr std::chrono::seconds pageCheckTimeout{5};

/// A share is taken back with its claim while the claim is the only proof of it: anonymous,
/// holding a claim token, not bound to an account yet.
bool needsClaim(const ShareUploadRecord& record) {
  return record.anonymous && record.claimToken && !record.claimToken->empty() &&
         !record.boundAtMs && record.claimState != ClaimStateValues::bound;
}

std::string routeFor(const ShareUploadRecord& record, bool byClaim) {
  const std::string kind = record.kind == "link" ? "links/" : "docs/";
  return (byClaim ? "anon/" : "") + kind + Url::percentEncoded(record.slug);
}

/// The service's "no such share" for this route, as opposed to a route the service lacks.
bool isNotFoundCode(const ShareAPIError& error) {
  return error.code() == ShareServerErrorCodes::docNotFound ||
         error.code() == ShareServerErrorCodes::linkNotFound;
}

ShareHTTPReply send(ShareHTTPTransport& transport, const ShareHTTPRequest& request,
                    std::stop_token stop) {
  try {
    return transport.data(request, stop);
  } catch (const ShareURLError& error) {
    throw ShareAPIError(0, "transport", error.localizedDescription());
  } catch (const std::exception& error) {
    throw ShareAPIError(0, "transport", error.what());
  }
}

}  // namespace

ShareElsewhereError::ShareElsewhereError(std::string shortUrl)
    : shortUrl_(std::move(shortUrl)),
      message_(ShareL10n::tr("这条分享发布在另一个服务上：先用 `lumo-share config server` "
                             "指回那个服务，再撤回它。")) {}

std::optional<ShareUploadRecord> ShareDeletion::record(std::string_view slugOrLink) const {
  std::string wanted(slugOrLink);
  while (wanted.size() > 1 && wanted.back() == '/') wanted.pop_back();
  // The same slug may name shares on two services: the one on the service the tool talks to
  // now comes first.
  const auto here = ShareUploadClient::defaultSharePageBase();
  std::optional<ShareUploadRecord> found;
  for (const auto& record : host_.uploads.queue->recentUploads(ShareApple::maxRecentUploads)) {
    if (record.shortUrl == wanted) return record;
    if (record.slug != wanted || (found && found->shortUrl.starts_with(here))) continue;
    found = record;
  }
  return found;
}

ShareDeletionResult ShareDeletion::takeBack(const ShareUploadRecord& record,
                                            std::stop_token stop) const {
  if (!record.shortUrl.starts_with(ShareUploadClient::defaultSharePageBase())) {
    throw ShareElsewhereError(record.shortUrl);
  }
  refuseIfPointedElsewhere();
  const bool byClaim = needsClaim(record);
  auto result = ask(record, byClaim, stop);
  // The claim may have been bound to the account meanwhile (by a sync of the host window, by
  // another program) and no longer proves the share: the account takes it back then.
  if (result == ShareDeletionResult::refused && byClaim && host_.accountToken()) {
    result = ask(record, false, stop);
  }
  if (result == ShareDeletionResult::deleted || result == ShareDeletionResult::alreadyGone) {
    host_.uploads.queue->removeRecent(record.slug, record.shortUrl);
  }
  return result;
}

void ShareDeletion::refuseIfPointedElsewhere() const {
  const auto file = ShareAppleBundle::userInfoFile();
  if (!file) return;
  JSONValue settings;
  try {
    settings = JSONValue::parse(AtomicFile::read(*file), nullptr, false);
  } catch (const std::exception&) {
    return;  // no settings of the person's own: nothing was pointed elsewhere
  }
  if (!settings.is_object() || !settings.contains("LumoShareAPIBase")) return;
  const auto now = ShareSettings::apiBaseURL(ShareAppleBundle(settings)).absoluteString();
  if (now == host_.apiBase.absoluteString()) return;
  // The account token belongs to the service the tool points at now; this program still talks
  // to the one it started with, and must not send it there.
  throw ShareAPIError(0, "settingsChanged",
                      ShareL10n::tr("LumoShare 已被指向另一个服务：请重新打开这个窗口，再撤回。"));
}

ShareDeletionResult ShareDeletion::ask(const ShareUploadRecord& record, bool byClaim,
                                       std::stop_token stop) const {
  const auto token = byClaim ? std::nullopt : host_.accountToken();
  if (!byClaim && !token) {
    throw ShareAPIError(401, ShareServerErrorCodes::authRequired, "需要登录才能撤回这条分享");
  }
  auto request = ShareHTTP::makeRequest(
      ShareHTTP::endpoint(host_.apiBase, routeFor(record, byClaim)), "DELETE", token);
  if (byClaim) request.setValue(*record.claimToken, claimHeader);
  std::optional<ShareHTTPReply> reply;
  try {
    reply = send(*host_.uploads.transport, request, stop);
  } catch (const ShareAPIError&) {
    // No answer (a time-out, a dropped connection) says nothing of whether the service took the
    // share back: its page does. Gone there, it is gone.
    if (served(record, pageCheckTimeout, stop) == false) return ShareDeletionResult::deleted;
    throw;
  }
  const int status = reply->response.status;
  if (status == 404 || status == 410) {
    const auto error = ShareHTTP::accountError(reply->body, status);
    if (status == 404 && !isNotFoundCode(error)) return ShareDeletionResult::unsupported;
    // The service forgets what expired long ago: by the record, such a share is merely gone.
    const bool expired = record.expiresAtMs <= currentTimeMs();
    if (status == 404 && !expired) return ShareDeletionResult::refused;
    return ShareDeletionResult::alreadyGone;
  }
  if (status == 405 || status == 501) return ShareDeletionResult::unsupported;
  if (status < 200 || status > 299) throw ShareHTTP::accountError(reply->body, status);
  return ShareDeletionResult::deleted;
}

std::optional<bool> ShareDeletion::served(const ShareUploadRecord& record,
                                          std::chrono::milliseconds timeout,
                                          std::stop_token stop) const {
  const auto page = Url::parse(record.shortUrl);
  const auto scheme = page ? UnicodeText::lowercased(page->scheme()) : "";
  if (scheme != "http" && scheme != "https") return std::nullopt;
  ShareHTTPRequest request(*page);
  request.method = "HEAD";
  request.timeout = timeout;
  request.followsRedirects = false;
  try {
    const int status = host_.uploads.transport->data(request, stop).response.status;
    return status != 404 && status != 410;
  } catch (const std::exception&) {
    return std::nullopt;  // offline, or the page's host is down: no verdict
  }
}

}  // namespace lumo
