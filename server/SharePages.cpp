#include "SharePages.hpp"

#include <cmark.h>
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "ServiceSecrets.hpp"
#include "ShareByteCount.hpp"
#include "ShareText.hpp"
#include "UnicodeText.hpp"
#include "Url.hpp"

namespace lumo::service::SharePages {
namespace {

constexpr std::string_view styleSheet = R"css(
*{box-sizing:border-box}
body{margin:0;background:#f3f4f6;color:#111827;font:16px/1.6 system-ui,"Noto Sans CJK SC",
"PingFang SC","Microsoft YaHei",sans-serif}
main{max-width:880px;margin:32px auto;padding:24px;background:#fff;border:1px solid #e5e7eb;
border-radius:12px}
h1{font-size:1.5rem;margin:0 0 4px;overflow-wrap:anywhere}
.meta{color:#4b5563;font-size:.9rem;margin:0 0 20px}
.meta span{white-space:nowrap}
.meta span+span::before{content:"·";margin:0 .5em;color:#9ca3af}
.preview{position:relative;overflow:hidden;border-radius:8px;background:#111827;margin:0 0 20px;
display:flex;justify-content:center}
.frame{position:relative;max-width:100%}
.preview:not(.document) .frame{display:inline-block}
.frame.wide{width:100%}
.preview img,.preview video{display:block;max-width:100%;max-height:70vh}
.preview audio{width:100%;margin:24px}
.preview iframe{width:100%;height:70vh;border:0;background:#fff}
.preview.document{background:#f9fafb;display:block;padding:16px 20px;max-height:70vh;overflow:auto}
.preview pre{margin:0;white-space:pre-wrap;overflow-wrap:anywhere;font:14px/1.5 ui-monospace,
"Noto Sans Mono CJK SC",monospace}
.wm{position:absolute;inset:0;pointer-events:none;display:flex;align-items:center;
justify-content:center;overflow:hidden}
.wm.repeat{display:grid;grid-template-columns:repeat(3,1fr);grid-auto-rows:1fr;place-items:center}
.wm span{white-space:nowrap;font-weight:600;text-shadow:0 0 3px rgba(0,0,0,.45)}
.button{display:inline-block;padding:10px 22px;border-radius:8px;background:#2563eb;color:#fff;
text-decoration:none;font-weight:600;border:0;font-size:1rem;cursor:pointer}
.note{color:#4b5563;font-size:.9rem}
.problem{color:#b91c1c}
form{display:flex;gap:8px;flex-wrap:wrap}
input[type=password]{flex:1;min-width:12em;padding:9px 12px;font-size:1rem;border:1px solid #d1d5db;
border-radius:8px}
footer{text-align:center;color:#9ca3af;font-size:.8rem;margin:16px 0 32px}
@media (max-width:600px){main{margin:0;border-radius:0;border-width:0 0 1px;padding:18px}
h1{font-size:1.25rem}}
)css";

std::string newNonce() {
  return ServiceSecrets::randomCode(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 22);
}

/// No script anywhere; styles only from the page's own sheet; previews only from this origin or
/// from the page itself; forms only back to this origin; the page never framed.
std::string pagePolicy(const std::string& nonce) {
  return "default-src 'none'; style-src 'nonce-" + nonce +
         "'; img-src 'self' data:; media-src 'self' data:; frame-src 'self'; form-action 'self'; "
         "base-uri 'none'; frame-ancestors 'none'";
}

Page page(const std::string& title, const std::string& extraStyle, const std::string& body) {
  const auto nonce = newNonce();
  auto html = fmt::format(
      "<!doctype html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
      "<meta name=\"referrer\" content=\"no-referrer\"><title>{} · LumoShare</title>"
      "<style nonce=\"{}\">{}{}</style></head><body><main>{}</main>"
      "<footer>由 LumoShare 分享</footer></body></html>",
      escaped(title), nonce, styleSheet, extraStyle, body);
  return {std::move(html), pagePolicy(nonce)};
}

/// "#rgb", "#rrggbb" or "#rrggbbaa"; anything else could break out of the style sheet.
std::string safeColor(const std::string& color) {
  const bool hex = (color.size() == 4 || color.size() == 7 || color.size() == 9) &&
                   color[0] == '#' && std::all_of(color.begin() + 1, color.end(), [](char c) {
                     return std::isxdigit(static_cast<unsigned char>(c));
                   });
  return hex ? color : "#ffffff";
}

std::string watermarkStyle(const WatermarkSettings& watermark) {
  return fmt::format(".wm span{{color:{};opacity:{:.2f};font-size:{}px;transform:rotate({}deg)}}",
                     safeColor(watermark.color), std::clamp(watermark.opacity, 0.01, 1.0),
                     std::clamp<std::int64_t>(watermark.font_size, 8, 200),
                     std::clamp<std::int64_t>(watermark.rotation, -360, 360));
}

std::string watermarkOverlay(const WatermarkSettings& watermark) {
  const auto text = "<span>" + escaped(watermark.text) + "</span>";
  std::string spans;
  for (int index = 0; index < (watermark.repeat ? 12 : 1); ++index) spans += text;
  return fmt::format("<div class=\"wm{}{}\" aria-hidden=\"true\">{}</div>",
                     watermark.repeat ? " repeat" : "",
                     watermark.position == "diagonal" ? " diagonal" : " center", spans);
}

std::string previewElement(const Document& document) {
  const auto source = escaped(document.previewSource);
  const auto title = escaped(document.title);
  switch (document.preview) {
    case Preview::image:
      return fmt::format("<img src=\"{}\" alt=\"{}\">", source, title);
    case Preview::video:
      return fmt::format("<video controls src=\"{}\"></video>", source);
    case Preview::audio:
      return fmt::format("<audio controls src=\"{}\"></audio>", source);
    case Preview::pdf:
      return fmt::format("<iframe src=\"{}\" title=\"{}\"></iframe>", source, title);
    case Preview::sandboxed:
      return fmt::format("<iframe sandbox src=\"{}\" title=\"{}\"></iframe>", source, title);
    case Preview::text:
      return "<pre>" + escaped(document.inlineText) + "</pre>";
    case Preview::markdown:
      return markdownHtml(document.inlineText);
    case Preview::none:
      return {};
  }
  return {};
}

std::string metaLine(const Document& document) {
  auto line = fmt::format("<span>大小：{}</span><span>到期：{}</span><span>浏览 {} 次</span>",
                          ShareByteCount::fileStyle(document.size), escaped(document.expiry),
                          document.views);
  if (document.maxDownloads > 0) {
    return line +
           fmt::format("<span>下载 {} / {} 次</span>", document.downloads, document.maxDownloads);
  }
  return line + fmt::format("<span>下载 {} 次</span>", document.downloads);
}

/// The media types previewed under their own name; any other "text/" type is shown as text.
struct KnownType {
  std::string_view type;
  Preview kind;
};
constexpr KnownType knownTypes[] = {
    {"image/jpeg", Preview::image},
    {"image/png", Preview::image},
    {"image/gif", Preview::image},
    {"image/webp", Preview::image},
    {"image/avif", Preview::image},
    {"image/bmp", Preview::image},
    {"image/x-icon", Preview::image},
    {"image/vnd.microsoft.icon", Preview::image},
    {"video/mp4", Preview::video},
    {"video/webm", Preview::video},
    {"video/ogg", Preview::video},
    {"video/quicktime", Preview::video},
    {"audio/mpeg", Preview::audio},
    {"audio/mp4", Preview::audio},
    {"audio/x-m4a", Preview::audio},
    {"audio/aac", Preview::audio},
    {"audio/ogg", Preview::audio},
    {"audio/opus", Preview::audio},
    {"audio/wav", Preview::audio},
    {"audio/x-wav", Preview::audio},
    {"audio/webm", Preview::audio},
    {"audio/flac", Preview::audio},
    {"application/pdf", Preview::pdf},
    {"text/html", Preview::sandboxed},
    {"application/xhtml+xml", Preview::sandboxed},
    {"image/svg+xml", Preview::sandboxed},
    {"text/xml", Preview::sandboxed},
    {"application/xml", Preview::sandboxed},
    {"text/markdown", Preview::markdown},
    {"text/x-markdown", Preview::markdown},
    {"application/json", Preview::text},
};

bool isTokenCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         (c != '\0' && std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos);
}

bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

std::string_view withoutLeadingSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

std::string_view withoutSpace(std::string_view text) {
  text = withoutLeadingSpace(text);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

/// The length of the parameter value (a token or a quoted-string) `text` starts with; 0 when it
/// starts with none.
std::size_t valueLength(std::string_view text) {
  if (text.empty() || text.front() != '"') {
    return static_cast<std::size_t>(std::find_if_not(text.begin(), text.end(), isTokenCharacter) -
                                    text.begin());
  }
  for (std::size_t index = 1; index < text.size(); ++index) {
    const auto c = static_cast<unsigned char>(text[index]);
    if (c == '"') return index + 1;
    if (c == '\\' && ++index == text.size()) return 0;
    const auto quoted = static_cast<unsigned char>(text[index]);
    if ((quoted < 0x20 && quoted != '\t') || quoted == 0x7f) return 0;
  }
  return 0;
}

/// Whether `parameters` (from the first ";" on) is a well-formed list of parameters.
bool wellFormedParameters(std::string_view parameters) {
  while (!parameters.empty()) {
    parameters = withoutLeadingSpace(parameters.substr(1));  // past the ";"
    if (parameters.empty() || parameters.front() == ';') continue;
    const auto name = static_cast<std::size_t>(
        std::find_if_not(parameters.begin(), parameters.end(), isTokenCharacter) -
        parameters.begin());
    if (name == 0 || name == parameters.size() || parameters[name] != '=') return false;
    parameters.remove_prefix(name + 1);
    const auto value = valueLength(parameters);
    if (value == 0) return false;
    parameters = withoutLeadingSpace(parameters.substr(value));
    if (!parameters.empty() && parameters.front() != ';') return false;
  }
  return true;
}

/// Whether a page loads a preview of this kind from the preview route (else it shows it itself).
bool loadsFromRoute(Preview kind) {
  return kind == Preview::image || kind == Preview::video || kind == Preview::audio ||
         kind == Preview::pdf || kind == Preview::sandboxed;
}

}  // namespace

Previewing previewOf(const std::string& contentType, const std::string& filename) {
  const auto type = mediaType(contentType);
  if (!type) return {};
  for (const auto& known : knownTypes) {
    if (known.type == *type) return {known.kind, loadsFromRoute(known.kind) ? known.type : ""};
  }
  const auto extension = UnicodeText::lowercased(ShareText::pathExtension(filename));
  const bool plain = *type == "text/plain" || *type == "application/octet-stream";
  if (plain && (extension == "md" || extension == "markdown")) return {Preview::markdown, ""};
  if (type->rfind("text/", 0) == 0) return {Preview::text, ""};
  return {};
}

std::optional<std::string> mediaType(std::string_view contentType) {
  const auto semicolon = contentType.find(';');
  const auto essence = withoutSpace(contentType.substr(0, semicolon));
  const auto slash = essence.find('/');
  if (slash == std::string_view::npos || !isToken(essence.substr(0, slash)) ||
      !isToken(essence.substr(slash + 1)) ||
      (semicolon != std::string_view::npos &&
       !wellFormedParameters(contentType.substr(semicolon)))) {
    return std::nullopt;
  }
  std::string type(essence);
  for (auto& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type;
}

std::string downloadType(const std::string& contentType) {
  return mediaType(contentType).value_or("application/octet-stream");
}

Page document(const Document& document) {
  std::string body =
      "<h1>" + escaped(document.title) + "</h1><p class=\"meta\">" + metaLine(document) + "</p>";
  if (document.preview != Preview::none) {
    const bool isDocument =
        document.preview == Preview::text || document.preview == Preview::markdown;
    // The watermark covers the content itself, not the letterbox around it.
    const bool wide = document.preview == Preview::pdf || document.preview == Preview::sandboxed ||
                      document.preview == Preview::audio;
    body +=
        fmt::format("<div class=\"preview{}\"><div class=\"frame{}\">{}{}</div></div>",
                    isDocument ? " document" : "", wide ? " wide" : "", previewElement(document),
                    document.watermark ? watermarkOverlay(*document.watermark) : "");
  } else {
    body += "<p class=\"note\">此文件类型无法在浏览器中预览。</p>";
  }
  if (document.downloadSource) {
    body += fmt::format("<p><a class=\"button\" href=\"{}\" download=\"{}\">下载 {}</a></p>",
                        escaped(*document.downloadSource), escaped(document.filename),
                        escaped(document.filename));
  } else {
    body += "<p class=\"note\">分享者关闭了下载，此文件仅供在线查看。</p>";
  }
  if (document.burnAfterReading) {
    body += "<p class=\"note problem\">此分享阅后即焚：离开本页后将无法再次打开。</p>";
  }
  return page(document.title, document.watermark ? watermarkStyle(*document.watermark) : "", body);
}

Page password(const std::string& pagePath, const std::optional<std::string>& problem) {
  auto body = std::string("<h1>此分享需要密码</h1><p class=\"meta\">请输入分享者提供的密码。</p>");
  if (problem) body += "<p class=\"problem\">" + escaped(*problem) + "</p>";
  body += fmt::format(
      "<form method=\"post\" action=\"{}/unlock\"><input type=\"password\" name=\"password\" "
      "autocomplete=\"off\" required autofocus aria-label=\"密码\">"
      "<button class=\"button\" type=\"submit\">打开</button></form>",
      escaped(pagePath));
  return page("需要密码", "", body);
}

Page message(const std::string& heading, const std::string& text) {
  return page(heading, "",
              "<h1>" + escaped(heading) + "</h1><p class=\"note\">" + escaped(text) + "</p>");
}

std::string escaped(std::string_view text) {
  std::string html;
  html.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      case '"':
        html += "&quot;";
        break;
      case '\'':
        html += "&#39;";
        break;
      default:
        html += c;
    }
  }
  return html;
}

std::string markdownHtml(std::string_view markdown) {
  // CMARK_OPT_DEFAULT is the safe mode: raw HTML and javascript:/data: links are left out.
  const std::unique_ptr<char, decltype(&std::free)> html(
      cmark_markdown_to_html(markdown.data(), markdown.size(), CMARK_OPT_DEFAULT), &std::free);
  return html ? std::string(html.get()) : std::string();
}

std::string contentDisposition(const std::string& disposition, const std::string& filename) {
  std::string fallback;
  for (const char c : filename) {
    const auto byte = static_cast<unsigned char>(c);
    fallback += (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\' || c == '%') ? '_' : c;
  }
  if (fallback.empty()) fallback = "file";
  auto header = disposition + "; filename=\"" + fallback + "\"";
  if (fallback != filename) header += "; filename*=UTF-8''" + Url::percentEncoded(filename);
  return header;
}

}  // namespace lumo::service::SharePages
