#include "ShareUploadClient.hpp"

#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "SaturatingMath.hpp"
#include "ShareApple.hpp"
#include "ShareAppleBundle.hpp"
#include "ShareHTTP.hpp"
#include "ShareJSON.hpp"
#include "ShareL10n.hpp"
#include "SharePayloadFactory.hpp"
#include "ShareText.hpp"
#include "ShareURLError.hpp"
#include "ShareUUID.hpp"
#include "ShareZip.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace fs = std::filesystem;
namespace {

/// (ctime + days × 86400) × 1000, held at the int64 limits for a hostile reply.
std::int64_t expiryMs(std::int64_t ctimeSeconds, std::int64_t days) {
  std::int64_t lifetime = 0;
  std::int64_t seconds = 0;
  std::int64_t milliseconds = 0;
  if (__builtin_mul_overflow(days, std::int64_t{86400}, &lifetime) ||
      __builtin_add_overflow(ctimeSeconds, lifetime, &seconds) ||
      __builtin_mul_overflow(seconds, std::int64_t{1000}, &milliseconds)) {
    const auto exact =
        static_cast<long double>(ctimeSeconds) + static_cast<long double>(days) * 86400;
    return exact > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
  }
  return milliseconds;
}

/// A staged file, opened for sending: its size is fixed now, and it is read only while the
/// body goes out.
ShareRequestParts::File openStagedFile(const fs::path& location, const std::string& name) {
  try {
    return ShareRequestParts::File::open(location, name);
  } catch (const ShareURLError& error) {
    if (error.code() == ShareURLError::Code::fileDoesNotExist)
      throw ShareUploadError::transport(ShareL10n::tr("本地文件丢失：%@", name));
    throw ShareUploadError::transport(
        ShareL10n::tr("读取本地文件失败（%@）：%@", {name, error.localizedDescription()}));
  }
}

/// A zip entry name: no "/", "\" or ".." can make it a path, numbered from 1.
std::string entryName(std::size_t number, const std::string& displayName) {
  std::string name;
  for (std::size_t index = 0; index < displayName.size(); ++index) {
    if (displayName.compare(index, 2, "..") == 0) {
      name += '_';
      ++index;
    } else if (displayName[index] == '/' || displayName[index] == '\\') {
      name += '_';
    } else {
      name += displayName[index];
    }
  }
  auto trimmed = std::string(UnicodeText::trimmed(name));
  return fmt::format("{:02d}-{}", number, trimmed.empty() ? "file" : trimmed);
}

bool isLinkOnly(const SharePayload& payload, const StagedShare& staged,
                const std::optional<std::string>& note) {
  return !note && payload.url && !payload.url->empty() && staged.attachments.empty() &&
         !payload.chat && (!payload.text || *payload.text == *payload.url);
}

bool isSingleFile(const SharePayload& payload, const StagedShare& staged,
                  const std::optional<std::string>& note) {
  return !note && staged.attachments.size() == 1 && !payload.chat && !payload.text && !payload.url;
}

/// Maps whatever a send threw onto the upload error the caller sees.
[[noreturn]] void rethrowAsUploadError() {
  try {
    throw;
  } catch (const ShareUploadError&) {
    throw;
  } catch (const ShareURLError& error) {
    if (error.code() == ShareURLError::Code::cancelled) throw ShareUploadError::cancelled();
    throw ShareUploadError::transport(error.localizedDescription());
  } catch (const std::exception& error) {
    throw ShareUploadError::transport(error.what());
  }
}

}  // namespace

ShareUploadClient::ShareUploadClient(Url apiBase, std::optional<std::string> token,
                                     std::shared_ptr<ShareHTTPTransport> transport,
                                     RetryPolicy retry)
    : ShareUploadClient(std::move(apiBase), std::move(token), std::move(transport), retry,
                        Environment()) {}

ShareUploadClient::ShareUploadClient(Url apiBase, std::optional<std::string> token,
                                     std::shared_ptr<ShareHTTPTransport> transport,
                                     RetryPolicy retry, Environment environment)
    : apiBase_(std::move(apiBase)),
      token_(std::move(token)),
      transport_(std::move(transport)),
      retry_(retry),
      environment_(std::move(environment)) {
  if (!transport_) throw std::invalid_argument("ShareUploadClient needs a transport");
}

bool ShareUploadClient::isAnonymous() const {
  return !token_ || token_->empty();
}

ShareUploadOutcome ShareUploadClient::upload(const StagedShare& staged, const fs::path& directory,
                                             const ShareOptions& options,
                                             std::stop_token stop) const {
  auto plan = makePlan(staged, directory, options);
  if (auto* link = std::get_if<LinkPlan>(&plan))
    return publishLink(link->url, staged, options, stop);
  return publishDoc(std::get<DocumentPlan>(plan), staged, options, stop);
}

ShareUploadClient::Plan ShareUploadClient::makePlan(const StagedShare& staged,
                                                    const fs::path& directory,
                                                    const ShareOptions& options) const {
  const auto& payload = staged.payload;
  const auto note = options.normalizedNote();
  if (isLinkOnly(payload, staged, note)) {
    if (!Url::parse(*payload.url)) {
      throw ShareUploadError::invalidMetadata(ShareL10n::tr("无效的 URL：%@", *payload.url));
    }
    return LinkPlan{*payload.url};
  }
  const auto markdown = SharePayloadFactory::markdown(payload, note);
  if (isSingleFile(payload, staged, note)) return singleFilePlan(staged, directory);
  if (staged.attachments.empty()) return markdownPlan(staged, markdown);
  return bundlePlan(staged, directory, markdown);
}

ShareUploadClient::DocumentPlan ShareUploadClient::singleFilePlan(const StagedShare& staged,
                                                                  const fs::path& directory) const {
  const auto& attachment = staged.attachments.front();
  const auto name = attachment.uploadFileName();
  auto file = openStagedFile(staged.url(attachment, directory), name);
  checkUploadSize(file.size, name);
  const auto mime = attachment.mime.empty() ? "application/octet-stream" : attachment.mime;
  return DocumentPlan{name, mime, ShareRequestParts{{std::move(file)}}, staged.payload.title};
}

ShareUploadClient::DocumentPlan ShareUploadClient::markdownPlan(
    const StagedShare& staged, const std::optional<std::string>& markdown) const {
  if (!markdown || markdown->empty()) {
    throw ShareUploadError::invalidMetadata(ShareL10n::tr("没有可分享的内容"));
  }
  checkAnonymousSize(static_cast<std::int64_t>(markdown->size()), "message.md");
  const auto name = "message-" + SharePayloadFactory::timestamp(staged.createdAt) + ".md";
  return DocumentPlan{name, "text/markdown", ShareRequestParts{{*markdown}}, staged.payload.title};
}

ShareUploadClient::DocumentPlan ShareUploadClient::bundlePlan(
    const StagedShare& staged, const fs::path& directory,
    const std::optional<std::string>& markdown) const {
  std::vector<ShareZip::StreamedEntry> entries;
  std::int64_t total = 0;
  const auto count = staged.attachments.size();
  for (std::size_t index = 0; index < count; ++index) {
    const auto& attachment = staged.attachments[index];
    const auto name = attachment.uploadFileName();
    auto file = openStagedFile(staged.url(attachment, directory), name);
    checkUploadSize(file.size, name);
    total = saturatingAdd(total, file.size);
    if (total > ShareApple::maxUploadBytes) {
      throw ShareUploadError::payloadTooLarge(fmt::format("合计 {} 个附件", count), total,
                                              ShareApple::maxUploadBytes);
    }
    entries.push_back({entryName(index + 1, name), std::move(file)});
  }
  if (markdown && !markdown->empty()) entries.push_back({"message.md", *markdown});
  auto archive = [&] {
    try {
      return ShareZip::streamedArchive(entries, staged.createdAt);
    } catch (const ShareURLError&) {
      rethrowAsUploadError();
    }
  }();
  checkUploadSize(archive.size(), "打包后的 zip");
  const auto name = "lumo-share-" + SharePayloadFactory::timestamp(staged.createdAt) + ".zip";
  return DocumentPlan{name, "application/zip", std::move(archive), staged.payload.title};
}

void ShareUploadClient::checkUploadSize(std::int64_t size, const std::string& name) const {
  const auto limit = isAnonymous() ? ShareApple::anonymousMaxFileBytes : ShareApple::maxUploadBytes;
  if (size > limit) throw ShareUploadError::payloadTooLarge(name, size, limit);
}

void ShareUploadClient::checkAnonymousSize(std::int64_t size, const std::string& name) const {
  if (isAnonymous() && size > ShareApple::anonymousMaxFileBytes) {
    throw ShareUploadError::payloadTooLarge(name, size, ShareApple::anonymousMaxFileBytes);
  }
}

std::int64_t ShareUploadClient::expDays(const ShareOptions& options) const {
  return options.expDays(maxExpDays);
}

DocMetadata ShareUploadClient::metadata(const std::optional<std::string>& title,
                                        const ShareOptions& options) const {
  DocMetadata meta;
  if (!isAnonymous()) {
    meta.slug = options.normalizedSlug();
    meta.expDays = expDays(options);
    meta.password = options.normalizedPassword();
  }
  meta.maxDownloads = options.normalizedMaxDownloads();
  if (options.disableDownload) meta.disableDownload = true;
  if (options.burnAfterReading) meta.burnAfterReading = true;
  meta.watermark = options.normalizedWatermark();
  const auto comment =
      options.title ? std::string(UnicodeText::trimmed(*options.title)) : title.value_or("");
  if (!comment.empty()) meta.comment = ShareText::clamp(comment, ShareApple::maxCommentCharacters);
  return meta;
}

LinkCreateRequest ShareUploadClient::linkRequest(const std::string& url,
                                                 const ShareOptions& options) const {
  LinkCreateRequest request{url, std::nullopt, std::nullopt, std::nullopt};
  if (isAnonymous()) return request;
  request.slug = options.normalizedSlug();
  request.keepDays = expDays(options);
  request.password = options.normalizedPassword();
  return request;
}

ShareHTTPRequest ShareUploadClient::postRequest(const std::string& path,
                                                std::optional<std::string> body,
                                                const std::string& contentType,
                                                const StagedShare& staged) const {
  const auto prefix = isAnonymous() ? std::string("anon/") : std::string();
  // The share's own id names the publish: a service that knows the header answers a repeat
  // (a reply lost on the way, then a retry) with the first result instead of a second share.
  std::map<std::string, std::string> headers;
  if (!staged.clientShareId.empty()) headers.emplace("Idempotency-Key", staged.clientShareId);
  return ShareHTTP::makeRequest(ShareHTTP::endpoint(apiBase_, prefix + path), "POST", token_,
                                std::move(body), contentType, headers);
}

ShareUploadOutcome ShareUploadClient::publishDoc(const DocumentPlan& document,
                                                 const StagedShare& staged,
                                                 const ShareOptions& options,
                                                 std::stop_token stop) const {
  const auto meta = ShareJSON::encoder().encode(metadata(document.title, options));
  const auto body =
      ShareMultipart::streamedBody({{"metadata", meta}}, document.filename, document.mimeType,
                                   document.content, "lumo-" + makeLowercaseUUID());
  auto request = postRequest("docs", std::nullopt, body.contentType, staged);
  request.uploadProgress = progress_;
  request.setValue(std::to_string(body.parts.size()), "Content-Length");
  const auto reply = withRetry(
      [&] { return validated([&] { return transport_->uploadParts(request, body.parts, stop); }); },
      stop);

  if (isAnonymous()) {
    const auto decoded = ShareHTTP::decode<AnonDocCreateResponse>(reply);
    const auto& doc = decoded.result.doc;
    return outcome("doc", doc.slug, doc.comment.value_or(doc.filename), doc.ctime, doc.exp_days,
                   decoded.result.claim_token);
  }
  const auto doc = ShareHTTP::decode<DocCreateResponse>(reply).result.doc;
  return outcome("doc", doc.slug, doc.comment.value_or(doc.filename), doc.ctime, doc.exp_days,
                 std::nullopt);
}

ShareUploadOutcome ShareUploadClient::publishLink(const std::string& url, const StagedShare& staged,
                                                  const ShareOptions& options,
                                                  std::stop_token stop) const {
  const auto request = postRequest("links", ShareJSON::encoder().encode(linkRequest(url, options)),
                                   "application/json", staged);
  const auto reply = withRetry([&] { return perform(request, stop); }, stop);
  const auto decoded = ShareHTTP::decode<LinkCreateResponse>(reply);
  const auto& link = decoded.link;
  return outcome("link", link.slug, link.title.value_or(link.url), link.ctime, link.exp_days,
                 isAnonymous() ? decoded.claim_token : std::nullopt);
}

ShareUploadOutcome ShareUploadClient::outcome(const std::string& kind, const std::string& slug,
                                              const std::string& title, std::int64_t ctimeSeconds,
                                              std::int64_t days,
                                              const std::optional<std::string>& claimToken) const {
  // An empty claim token binds nothing: it is no token.
  const auto claim = claimToken && !claimToken->empty() ? claimToken : std::nullopt;
  return ShareUploadOutcome{kind,
                            slug,
                            environment_.sharePageBase + slug,
                            title,
                            isAnonymous(),
                            expiryMs(ctimeSeconds, days),
                            claim,
                            environment_.nowMs()};
}

std::string ShareUploadClient::perform(const ShareHTTPRequest& request,
                                       std::stop_token stop) const {
  return validated([&] {
    const std::string_view body = request.body ? std::string_view(*request.body) : "";
    return transport_->upload(request, body, stop);
  });
}

std::string ShareUploadClient::validated(const std::function<ShareHTTPReply()>& send) const {
  try {
    auto reply = send();
    ShareHTTP::validate(reply.body, reply.response, environment_.nowMs());
    return std::move(reply.body);
  } catch (...) {
    rethrowAsUploadError();
  }
}

std::string ShareUploadClient::withRetry(const std::function<std::string()>& operation,
                                         std::stop_token stop) const {
  for (std::int64_t attempt = 1;; ++attempt) {
    try {
      return operation();
    } catch (const ShareUploadError& error) {
      if (!error.isRetryable() || attempt >= retry_.maxAttempts) throw;
      if (!environment_.sleep(std::chrono::milliseconds(retryWaitMs(error, attempt)), stop)) {
        throw ShareUploadError::cancelled();
      }
    } catch (...) {
      rethrowAsUploadError();
    }
  }
}

std::int64_t ShareUploadClient::retryWaitMs(const ShareUploadError& error,
                                            std::int64_t attempt) const {
  const auto* limited = error.as<ShareUploadError::RateLimited>();
  const auto wait = limited && limited->retryAfterMs ? *limited->retryAfterMs
                                                     : retry_.delayMs(attempt, environment_.random);
  // A service may ask for any wait at all; none is longer than the queue's own longest
  // back-off, so no reply holds a drain or a panel for days (or overflows a clock).
  return std::clamp<std::int64_t>(wait, 0, ShareApple::maxRetryDelayMs);
}

std::string ShareUploadClient::defaultSharePageBase() {
  return ShareAppleBundle::main()->sharePageBase();
}

bool ShareUploadClient::sleepUnlessStopped(std::chrono::milliseconds duration,
                                           std::stop_token stop) {
  using Clock = std::chrono::steady_clock;
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  // condition_variable_any measures the wait on the steady clock and wakes on a stop request.
  // The deadline is computed only where it fits the clock; a longer wait is one without end.
  const auto start = Clock::now();
  const auto room =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - start);
  if (duration >= room) {
    wake.wait(lock, stop, [] { return false; });
  } else {
    wake.wait_until(lock, stop, start + std::max(duration, std::chrono::milliseconds(0)),
                    [] { return false; });
  }
  return !stop.stop_requested();
}

}  // namespace lumo
