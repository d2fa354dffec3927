// The public share pages at the public base: "<base><slug>" (the page, or a link's redirect),
// "<base><slug>/unlock" (the password form's target), "<base><slug>/file" (the download) and
// "<base><slug>/view" (the inline preview).
#include <sodium.h>

#include <fstream>

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
std::string readPrefix(const std::filesystem::path& file, std::size_t limit) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

bool limitReached(const StoredShare& share) {
  return share.maxDownloads > 0 && share.downloadCount >= share.maxDownloads;
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
    const auto reason = store_.goneReason(slug);
    if (reason == std::optional<std::string>("burned")) {
      sendMessage(response, 410, "此分享已被销毁", "这是一个阅后即焚的分享，它已经被查看过了。");
    } else if (reason) {
      sendMessage(response, 410, "此分享已过期", "分享者设置的有效期已过，内容已被删除。");
    } else {
      sendMessage(response, 404, "找不到此分享", "链接可能有误，或分享已被删除。");
    }
    return std::nullopt;
  }
  if (share->expiresAt <= now()) {
    sendMessage(response, 410, "此分享已过期", "分享者设置的有效期已过，内容已被删除。");
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
  if (const auto wait = passwordLimiter_.admit(clientOfAddress(request.remote_addr) + " " + slug)) {
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
  auto share = openShare(request, response);
  if (!share) return;
  store_.countView(share->slug);
  if (share->kind == "link") {
    response.set_header("Referrer-Policy", "no-referrer");
    return response.set_redirect(*share->url, 302);
  }
  if (limitReached(*share)) {
    return sendMessage(response, 410, "下载次数已达上限",
                       "此文件的下载次数已经用完，分享者设置的上限是 " +
                           std::to_string(share->maxDownloads) + " 次。");
  }
  Pages::Document page;
  page.title = share->comment.value_or(*share->filename);
  page.filename = *share->filename;
  page.size = share->size;
  page.expiry = ShareDateFormat::localTime(share->expiresAt * 1000, "yyyy-MM-dd HH:mm (ZZZZ)");
  page.views = share->viewCount + 1;
  page.downloads = share->downloadCount;
  page.maxDownloads = share->maxDownloads;
  page.preview = Pages::previewOf(*share->contentType, *share->filename);
  page.burnAfterReading = share->burnAfterReading;
  if (share->watermark) {
    page.watermark = ShareJSON::decoder().decode<WatermarkSettings>(*share->watermark);
    if (!page.watermark->enabled || page.watermark->text.empty()) page.watermark.reset();
  }
  const auto file = blobs_.path(*share->blob);
  if (page.preview == Preview::text || page.preview == Preview::markdown) {
    page.inlineText = UnicodeText::wellFormed(readPrefix(file, maxInlineTextBytes));
  }
  if (!share->burnAfterReading) {
    page.previewSource = pagePath_ + share->slug + "/view";
    if (!share->disableDownload) page.downloadSource = pagePath_ + share->slug + "/file";
    return sendPage(response, 200, Pages::document(page));
  }
  // Burn after reading: the page carries the content itself, and the share is deleted before
  // the page leaves. Whoever deletes it is the one viewer; a second, simultaneous view loses.
  const auto bytes = AtomicFile::read(file, static_cast<std::size_t>(share->size));
  const auto uri = dataUri(*share->contentType, bytes);
  if (page.preview != Preview::sandboxed && page.preview != Preview::pdf)
    page.previewSource = uri;
  else
    page.preview = Preview::none;
  if (!share->disableDownload) page.downloadSource = uri;
  auto rendered = Pages::document(page);
  const auto blob = store_.remove(share->slug, "burned", now());
  if (!blob) {
    return sendMessage(response, 410, "此分享已被销毁",
                       "这是一个阅后即焚的分享，它已经被查看过了。");
  }
  blobs_.remove(*blob);
  sendPage(response, 200, rendered);
}

void ShareService::serveFile(const httplib::Request& request, httplib::Response& response,
                             bool attachment) {
  auto share = openShare(request, response);
  if (!share) return;
  if (share->kind == "link" || share->burnAfterReading) {
    return sendMessage(response, 404, "找不到此文件", "此分享没有可单独打开的文件。");
  }
  if (attachment && share->disableDownload) {
    return sendMessage(response, 403, "下载已关闭", "分享者关闭了下载，此文件仅供在线查看。");
  }
  // A download counts when it asks for the first byte: every whole copy does, while resuming
  // (a range further on) stays within the downloads already counted.
  const bool fromStart = request.ranges.empty() || request.ranges.front().first <= 0;
  const bool counts = attachment && fromStart;
  if ((counts && !store_.reserveDownload(share->slug)) ||
      (share->maxDownloads > 0 && share->downloadCount > share->maxDownloads) ||
      (!attachment && limitReached(*share))) {
    return sendMessage(response, 410, "下载次数已达上限", "此文件的下载次数已经用完。");
  }
  auto in = std::make_shared<std::ifstream>(blobs_.path(*share->blob), std::ios::binary);
  if (!*in) {
    if (counts) store_.releaseDownload(share->slug);
    return sendMessage(response, 404, "找不到此文件", "文件内容已不存在。");
  }
  const auto preview = Pages::previewOf(*share->contentType, *share->filename);
  response.set_header(
      "Content-Disposition",
      Pages::contentDisposition(attachment ? "attachment" : "inline", *share->filename));
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Accept-Ranges", "bytes");
  // Uploaded content never runs script in our origin: a sandbox gives it an origin of its own.
  // The browser's PDF viewer does not run in a sandbox, and PDF cannot script the page.
  if (attachment || preview != Preview::pdf) {
    response.set_header("Content-Security-Policy",
                        "sandbox; default-src 'none'; img-src data:; style-src 'unsafe-inline'");
  }
  const auto slug = share->slug;
  response.set_content_provider(
      static_cast<std::size_t>(share->size), *share->contentType,
      [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        std::string chunk(std::min<std::size_t>(length, 65536), '\0');
        in->seekg(static_cast<std::streamoff>(offset));
        in->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        return in->gcount() > 0 && sink.write(chunk.data(), static_cast<std::size_t>(in->gcount()));
      },
      [this, slug, counts](bool success) {
        if (counts && !success) store_.releaseDownload(slug);
      });
}

}  // namespace lumo::service
