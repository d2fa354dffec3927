// The public share pages at the public base: "<base><slug>" (the page, or a link's redirect),
// "<base><slug>/unlock" (the password form's target), "<base><slug>/file" (the download) and
// "<base><slug>/view" (the inline preview).
#include <sodium.h>

#include <fmt/format.h>

#include <fstream>
#include <functional>
#include <utility>

#include "AtomicFile.hpp"
#include "ServiceReplies.hpp"
#include "ShareDateFormat.hpp"
#include "SharePages.hpp"
#include "ShareService.hpp"
#include "UnicodeText.hpp"

namespace lumo::service {
namespace {

namespace Pages = SharePages;
using Pages::Preview;

constexpr const char* unlockCookieName = "lumo_unlock";
constexpr std::int64_t unlockSeconds = 3600;
/// The preview route answers only with the link its page gave (a MAC over the slug and an
/// expiry), for this long after the page was served: long enough to watch a film.
constexpr std::int64_t previewSeconds = 6 * 3600;
/// What the preview link's MAC covers besides slug and expiry, where an unlock cookie has the
/// password's hash: a password hash never reads like this, so neither opens the other.
constexpr const char* previewScope = "preview link";
/// Uploaded content never runs script in our origin: a sandbox gives it an origin of its own.
constexpr const char* sandboxPolicy =
    "sandbox; default-src 'none'; img-src data:; style-src 'unsafe-inline'";
/// Text and Markdown shown in a page: at most this much of the file.
constexpr std::size_t maxInlineTextBytes = 1048576;

void sendPage(httplib::Response& response, int status, const Pages::Page& page) {
  response.status = status;
  response.set_header("Content-Security-Policy", page.securityPolicy);
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Cache-Control", "no-store");
  response.set_content(page.html, "text/html; charset=utf-8");
}

void sendMessage(httplib::Response& response, int status, const std::string& heading,
                 const std::string& text) {
  sendPage(response, status, Pages::message(heading, text));
}

std::optional<std::string> cookie(const httplib::Request& request, std::string_view name) {
  const auto header = request.get_header_value("Cookie");
  for (std::size_t start = 0; start < header.size();) {
    auto end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    auto pair = std::string_view(header).substr(start, end - start);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
        pair[name.size()] == '=') {
      return std::string(pair.substr(name.size() + 1));
    }
    start = end + 1;
  }
  return std::nullopt;
}

std::string dataUri(const std::string& contentType, const std::string& bytes) {
  std::string base64(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(base64.data(), base64.size(),
                    reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  base64.pop_back();  // the terminating NUL
  return "data:" + contentType + ";base64," + base64;
}

/// The first `limit` bytes of a file: a long text is previewed in part.
/// The first `limit` bytes of the blob `id` (fewer when it is shorter or gone).
std::string readPrefix(const BlobStore& blobs, const std::string& id, std::size_t limit) {
  const auto in = blobs.open(id);
  if (!in) return {};
  std::string bytes(limit, '\0');
  in->read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in->gcount()));
  return bytes;
}

bool limitReached(const StoredShare& share) {
  return share.maxDownloads > 0 && share.downloadCount >= share.maxDownloads;
}

void sendNoFile(httplib::Response& response) {
  sendMessage(response, 404, "找不到此文件", "此分享没有可单独打开的文件。");
}

void sendLimitReached(httplib::Response& response) {
  sendMessage(response, 410, "下载次数已达上限", "此文件的下载次数已经用完。");
}

/// The request's byte ranges, taken off it. cpp-httplib applies `request.ranges` to whatever
/// response a handler leaves (a message page too; several ranges become a multipart body with a
/// part for each, however many and however large), so the routes answer ranges themselves. The
/// server's request object is not const; only the handler's view of it is.
httplib::Ranges takeRanges(const httplib::Request& request) {
  return std::exchange(const_cast<httplib::Request&>(request).ranges, {});
}

/// The bytes of a file that a request asks for.
struct ByteSpan {
  std::int64_t first = 0;
  std::int64_t length = 0;
  bool partial = false;  ///< a range (206), not the whole file
};

/// What `ranges` ask of a file of `size` bytes (RFC 9110): the whole file without a range, and
/// also for several (each answer holds at most one range, so that a request cannot ask for the
/// file many times over); nothing when the one range lies outside the file.
std::optional<ByteSpan> requestedSpan(const httplib::Ranges& ranges, std::int64_t size) {
  if (ranges.size() != 1) return ByteSpan{0, size, false};
  auto first = static_cast<std::int64_t>(ranges.front().first);
  auto last = static_cast<std::int64_t>(ranges.front().second);
  if (first < 0 && last < 0) return ByteSpan{0, size, false};  // "bytes=-" names no range
  if (first < 0) {                                             // a suffix: the last `last` bytes
    if (last == 0 || size == 0) return std::nullopt;
    first = std::max<std::int64_t>(0, size - last);
    last = size - 1;
  } else if (first >= size) {
    return std::nullopt;
  } else if (last < 0 || last >= size) {
    last = size - 1;
  }
  return ByteSpan{first, last - first + 1, true};
}

bool isHead(const httplib::Request& request) {
  return request.method == "HEAD";
}

void sendBurned(httplib::Response& response) {
  sendMessage(response, 410, "此分享已被销毁", "这是一个阅后即焚的分享，它已经被查看过了。");
}

void sendMissingContent(httplib::Response& response) {
  sendMessage(response, 404, "找不到此文件", "文件内容已不存在。");
}

void sendExpired(httplib::Response& response) {
  sendMessage(response, 410, "此分享已过期", "分享者设置的有效期已过，内容已被删除。");
}

/// The page of a slug that has no share: why it is gone (410) when it existed lately, else
/// unknown (404).
void sendNoShare(httplib::Response& response, const ServiceStore& store, const std::string& slug) {
  const auto reason = store.goneReason(slug);
  if (!reason) return sendMessage(response, 404, "找不到此分享", "链接可能有误，或分享已被删除。");
  if (*reason == "burned") return sendBurned(response);
  if (*reason == "deleted") {
    return sendMessage(response, 410, "此分享已被删除", "分享者删除了此分享，内容已不存在。");
  }
  sendExpired(response);
}

/// When the share `slug` was removed while a request was answered (taken back, burned, swept),
/// the request gets the page that says so, as if it had come a moment later.
bool answeredAsGone(httplib::Response& response, const ServiceStore& store,
                    const std::string& slug) {
  if (store.share(slug)) return false;
  sendNoShare(response, store, slug);
  return true;
}

// Burn after reading: the page carries the content itself, and the share is deleted before the
// page leaves. Whoever deletes it is the one viewer; a simultaneous view loses and finds the
// share gone (its blob may be gone before it could read it).
void sendBurnPage(httplib::Response& response, ServiceStore& store, const BlobStore& blobs,
                  std::int64_t now, const StoredShare& share, Pages::Document& page,
                  std::string_view previewType) {
  const auto size = static_cast<std::size_t>(share.size);
  const auto bytes = readPrefix(blobs, *share.blob, size);
  if (bytes.size() != size) {
    if (answeredAsGone(response, store, share.slug)) return;
    return sendMissingContent(response);
  }
  // Frames are not previewed here: a data: URI in a frame would need a type the frame runs.
  if (page.preview == Preview::sandboxed || page.preview == Preview::pdf) {
    page.preview = Preview::none;
  } else if (!previewType.empty()) {
    page.previewSource = dataUri(std::string(previewType), bytes);
  }
  if (!share.disableDownload) {
    page.downloadSource = dataUri(Pages::downloadType(*share.contentType), bytes);
  }
  auto rendered = Pages::document(page);
  const auto blob = store.remove(share.slug, "burned", now);
  if (!blob) return sendNoShare(response, store, share.slug);
  blobs.remove(*blob);
  sendPage(response, 200, rendered);
}

/// Streams `span` of the open file `in` of `size` bytes as `type`: 206 with its Content-Range for
/// a range. `finished` learns whether all of it went out.
void streamFile(httplib::Response& response, std::shared_ptr<std::istream> in, const ByteSpan& span,
                std::int64_t size, const std::string& type, std::function<void(bool)> finished) {
  response.status = span.partial ? 206 : 200;
  if (span.partial) {
    response.set_header("Content-Range", fmt::format("bytes {}-{}/{}", span.first,
                                                     span.first + span.length - 1, size));
  }
  if (span.length == 0) {
    finished(true);
    return response.set_content(std::string(), type);
  }
  response.set_content_provider(
      static_cast<std::size_t>(span.length), type,
      [in, first = span.first, chunk = std::make_shared<std::vector<char>>(65536)](
          std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        in->clear();
        in->seekg(static_cast<std::streamoff>(first) + static_cast<std::streamoff>(offset));
        in->read(chunk->data(), static_cast<std::streamsize>(std::min(length, chunk->size())));
        return in->gcount() > 0 &&
               sink.write(chunk->data(), static_cast<std::size_t>(in->gcount()));
      },
      std::move(finished));
}

}  // namespace

void ShareService::pageRoutes() {
  const auto slug = pagePath_ + "([A-Za-z0-9_-]+)";
  server_->Get(slug, [this](const auto& request, auto& response) { sharePage(request, response); });
  server_->Post(slug + "/unlock",
                [this](const auto& request, auto& response) { unlock(request, response); });
  server_->Get(slug + "/file",
               [this](const auto& request, auto& response) { serveFile(request, response, true); });
  server_->Get(slug + "/view", [this](const auto& request, auto& response) {
    serveFile(request, response, false);
  });
}

std::optional<StoredShare> ShareService::openShare(const httplib::Request& request,
                                                   httplib::Response& response) {
  const std::string slug = request.matches[1];
  auto share = store_.share(slug);
  if (!share) {
    sendNoShare(response, store_, slug);
    return std::nullopt;
  }
  if (share->expiresAt <= now()) {
    sendExpired(response);
    return std::nullopt;
  }
  if (share->passwordHash) {
    const auto given = cookie(request, unlockCookieName);
    if (!given || !secrets_.unlocks(*given, slug, *share->passwordHash, now())) {
      sendPage(response, 401, Pages::password(pagePath_ + slug, std::nullopt));
      return std::nullopt;
    }
  }
  return share;
}

void ShareService::unlock(const httplib::Request& request, httplib::Response& response) {
  const std::string slug = request.matches[1];
  const auto share = store_.share(slug);
  if (!share || !share->passwordHash) return sharePage(request, response);
  const auto caller = ServiceSecrets::secretHash(clientOf(request) + " " + slug);
  if (const auto wait = store_.admitPasswordTry(caller, passwordTries, passwordTries, now())) {
    response.set_header("Retry-After", std::to_string(*wait));
    return sendPage(response, 429,
                    Pages::password(pagePath_ + slug,
                                    "尝试次数过多，请 " + std::to_string(*wait) + " 秒后再试。"));
  }
  if (!ServiceSecrets::passwordMatches(*share->passwordHash, request.get_param_value("password"))) {
    return sendPage(response, 401, Pages::password(pagePath_ + slug, "密码不正确，请重试。"));
  }
  const auto expiresAt = now() + unlockSeconds;
  response.set_header(
      "Set-Cookie",
      std::string(unlockCookieName) + "=" +
          secrets_.unlockCookie(slug, *share->passwordHash, expiresAt) + "; Path=" + pagePath_ +
          slug + "; Max-Age=" + std::to_string(unlockSeconds) + "; HttpOnly; SameSite=Strict" +
          (options_.tlsCertificate.empty() ? "" : "; Secure"));
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_redirect(pagePath_ + slug, 303);
}

void ShareService::sharePage(const httplib::Request& request, httplib::Response& response) {
  takeRanges(request);
  auto share = openShare(request, response);
  if (!share) return;
  // A HEAD only asks what a view would answer: it is no view, and never burns the share.
  if (!isHead(request)) store_.countView(share->slug);
  if (share->kind == "link") {
    response.set_header("Referrer-Policy", "no-referrer");
    return response.set_redirect(*share->url, 302);
  }
  if (limitReached(*share)) {
    return sendMessage(response, 410, "下载次数已达上限",
                       "此文件的下载次数已经用完，分享者设置的上限是 " +
                           std::to_string(share->maxDownloads) + " 次。");
  }
  const auto previewing = Pages::previewOf(*share->contentType, *share->filename);
  Pages::Document page;
  page.title = share->comment.value_or(*share->filename);
  page.filename = *share->filename;
  page.size = share->size;
  page.expiry = ShareDateFormat::localTime(share->expiresAt * 1000, "yyyy-MM-dd HH:mm (ZZZZ)");
  page.views = share->viewCount + 1;
  page.downloads = share->downloadCount;
  page.maxDownloads = share->maxDownloads;
  page.preview = previewing.kind;
  page.burnAfterReading = share->burnAfterReading;
  if (share->watermark) {
    page.watermark = ShareJSON::decoder().decode<WatermarkSettings>(*share->watermark);
    if (!page.watermark->enabled || page.watermark->text.empty()) page.watermark.reset();
  }
  if (page.preview == Preview::text || page.preview == Preview::markdown) {
    page.inlineText = UnicodeText::wellFormed(readPrefix(blobs_, *share->blob, maxInlineTextBytes));
  }
  if (!share->burnAfterReading) {
    if (!previewing.servedType.empty()) {
      page.previewSource = pagePath_ + share->slug + "/view?t=" +
                           secrets_.unlockCookie(share->slug, previewScope, now() + previewSeconds);
    }
    if (!share->disableDownload) page.downloadSource = pagePath_ + share->slug + "/file";
    return sendPage(response, 200, Pages::document(page));
  }
  if (isHead(request)) return sendPage(response, 200, Pages::document(page));
  sendBurnPage(response, store_, blobs_, now(), *share, page, previewing.servedType);
}

void ShareService::serveFile(const httplib::Request& request, httplib::Response& response,
                             bool attachment) {
  const auto ranges = takeRanges(request);
  auto share = openShare(request, response);
  if (!share) return;
  if (share->kind == "link" || share->burnAfterReading) return sendNoFile(response);
  if (attachment && share->disableDownload) {
    return sendMessage(response, 403, "下载已关闭", "分享者关闭了下载，此文件仅供在线查看。");
  }
  const auto previewing = Pages::previewOf(*share->contentType, *share->filename);
  // The preview route serves what the share's page shows from it, and only by the page's link:
  // each use follows a counted view, a view-only or limited share gives no file through it that
  // its page does not show.
  if (!attachment &&
      (previewing.servedType.empty() ||
       !secrets_.unlocks(request.get_param_value("t"), share->slug, previewScope, now()))) {
    return sendNoFile(response);
  }
  if (limitReached(*share)) return sendLimitReached(response);
  const auto span = requestedSpan(ranges, share->size);
  if (!span) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(share->size));
    return;
  }
  // Under a download limit every request for the file counts, whatever its range: pieces of
  // uncounted ranges would add up to the file. Without one, a download counts when it starts at
  // the first byte, and resuming further on does not count again.
  const bool counts =
      attachment && !isHead(request) && (share->maxDownloads > 0 || span->first == 0);
  if (counts && !store_.reserveDownload(share->slug)) {
    if (answeredAsGone(response, store_, share->slug)) return;
    return sendLimitReached(response);
  }
  // Once open, the file is read to its end even when the share is taken back meanwhile: its
  // blob is unlinked, and its bytes stay until this stream closes it.
  std::shared_ptr<std::istream> in = blobs_.open(*share->blob);
  if (!in) {
    if (counts) store_.releaseDownload(share->slug);
    if (answeredAsGone(response, store_, share->slug)) return;
    return sendMissingContent(response);
  }
  response.set_header(
      "Content-Disposition",
      Pages::contentDisposition(attachment ? "attachment" : "inline", *share->filename));
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Accept-Ranges", "bytes");
  // The browser's PDF viewer does not run in a sandbox, and PDF cannot script the page.
  if (attachment || previewing.kind != Preview::pdf) {
    response.set_header("Content-Security-Policy", sandboxPolicy);
  }
  const auto type =
      attachment ? Pages::downloadType(*share->contentType) : std::string(previewing.servedType);
  streamFile(response, in, *span, share->size, type, [this, slug = share->slug, counts](bool done) {
    if (counts && !done) store_.releaseDownload(slug);
  });
}

}  // namespace lumo::service
