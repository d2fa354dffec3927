#pragma once
// The public share pages as HTML: the document page, the password form and the message pages
// (gone, unknown, refused). Chinese, self-contained (no external resources; the style sheet is
// inline under the response's CSP nonce), no script at all. Pure functions of their input.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "WatermarkSettings.hpp"

namespace lumo::service::SharePages {

/// How a document can be previewed in a page.
enum class Preview {
  image,      ///< <img>
  video,      ///< <video>
  audio,      ///< <audio>
  pdf,        ///< the browser's viewer in a frame
  sandboxed,  ///< active content (HTML, SVG, XML): a sandboxed frame, script never in our origin
  text,       ///< shown as text in the page
  markdown,   ///< rendered to safe HTML in the page (raw HTML and unsafe links dropped)
  none,
};

/// How a document is previewed, and the Content-Type its preview route serves it with.
struct Previewing {
  Preview kind = Preview::none;
  /// A type from the service's own list, never the uploader's text: set for the kinds a page
  /// loads from the preview route (image, video, audio, PDF, sandboxed), empty for the others
  /// (text and Markdown are in the page itself; the rest has no preview).
  std::string_view servedType;
};
/// Decided from the media type of `contentType` alone (see `mediaType`; anything malformed has
/// no preview), and for Markdown from a plain text's or an untyped file's extension.
Previewing previewOf(const std::string& contentType, const std::string& filename);
/// A Content-Type value's media type as "type/subtype", ASCII lower-cased, its parameters
/// checked and dropped; nothing unless the value is exactly one well-formed media type
/// (RFC 9110: token "/" token *( OWS ";" OWS [ token "=" ( token / quoted-string ) ] )). A comma,
/// a second type or a broken parameter makes it malformed: browsers read such a value each their
/// own way.
std::optional<std::string> mediaType(std::string_view contentType);
/// The Content-Type a download is served with: the media type alone, or
/// "application/octet-stream" when there is none.
std::string downloadType(const std::string& contentType);

/// What a document page shows.
struct Document {
  std::string title;
  std::string filename;
  std::int64_t size = 0;
  std::string expiry;  ///< already formatted
  std::int64_t views = 0;
  std::int64_t downloads = 0;
  std::int64_t maxDownloads = 0;  ///< 0: no limit
  Preview preview = Preview::none;
  /// Where the preview and the download come from: the share's own routes, or for a share
  /// that burns after reading, data: URIs that carry the content in the page itself.
  std::string previewSource;
  std::optional<std::string> downloadSource;  ///< absent: view only
  std::string inlineText;                     ///< text or Markdown to show, for those previews
  bool burnAfterReading = false;
  std::optional<WatermarkSettings> watermark;
};

/// A page and the nonce its style sheet carries, for the Content-Security-Policy header.
struct Page {
  std::string html;
  std::string securityPolicy;
};

Page document(const Document& document);
/// The password form of the share whose page is at the path `pagePath`; `problem` is shown above
/// it (a wrong password, too many tries).
Page password(const std::string& pagePath, const std::optional<std::string>& problem);
/// A page that only says something: `heading` and `text`.
Page message(const std::string& heading, const std::string& text);

/// `text` with HTML's special characters escaped.
std::string escaped(std::string_view text);
/// `markdown` as HTML without raw HTML and without unsafe links (cmark's safe mode).
std::string markdownHtml(std::string_view markdown);
/// The Content-Disposition of a file served as `disposition` ("attachment" or "inline"): an
/// ASCII fallback name and, for other names, the exact UTF-8 name (RFC 6266, RFC 5987).
std::string contentDisposition(const std::string& disposition, const std::string& filename);

}  // namespace lumo::service::SharePages
