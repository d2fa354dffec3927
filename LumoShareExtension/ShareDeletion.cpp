#include "ShareDeletion.hpp"

#include "ShareAPIError.hpp"
#include "ShareHTTP.hpp"
#include "ShareL10n.hpp"
#include "ShareServerErrorCodes.hpp"
#include "ShareTime.hpp"
#include "ShareURLError.hpp"
#include "ShareUploadClient.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

/// The header an anonymous share's claim token travels in.
constexpr const char* claimHeader = "X-Claim-Token";

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
  for (const auto& record : host_.uploads.queue->recentUploads(ShareApple::maxRecentUploads)) {
    if (record.slug == wanted || record.shortUrl == wanted) return record;
  }
  return std::nullopt;
}

ShareDeletionResult ShareDeletion::takeBack(const ShareUploadRecord& record,
                                            std::stop_token stop) const {
  if (!record.shortUrl.starts_with(ShareUploadClient::defaultSharePageBase())) {
    throw ShareElsewhereError(record.shortUrl);
  }
  const bool byClaim = needsClaim(record);
  const auto token = byClaim ? std::nullopt : host_.accountToken();
  if (!byClaim && !token) {
    throw ShareAPIError(401, ShareServerErrorCodes::authRequired, "需要登录才能撤回这条分享");
  }
  auto request = ShareHTTP::makeRequest(
      ShareHTTP::endpoint(host_.apiBase, routeFor(record, byClaim)), "DELETE", token);
  if (byClaim) request.setValue(*record.claimToken, claimHeader);
  const auto reply = send(*host_.uploads.transport, request, stop);
  const int status = reply.response.status;
  auto result = ShareDeletionResult::deleted;
  if (status == 404 || status == 410) {
    const auto error = ShareHTTP::accountError(reply.body, status);
    if (status == 404 && !isNotFoundCode(error)) return ShareDeletionResult::unsupported;
    // The service forgets what expired long ago: by the record, such a share is merely gone.
    const bool expired = record.expiresAtMs <= currentTimeMs();
    if (status == 404 && !expired) return ShareDeletionResult::refused;
    result = ShareDeletionResult::alreadyGone;
  } else if (status == 405 || status == 501) {
    return ShareDeletionResult::unsupported;
  } else if (status < 200 || status > 299) {
    throw ShareHTTP::accountError(reply.body, status);
  }
  host_.uploads.queue->removeRecent(record.slug, record.shortUrl);
  return result;
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
