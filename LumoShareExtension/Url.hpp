#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumo {

/// An RFC 3986 URI reference (absolute, like "https://host/path?q", or relative, like "a/b"),
/// parsed by uriparser. A Url keeps the exact text it was parsed from as its absolute string;
/// the accessors answer from that text. Values are immutable: the appending operations return a
/// new Url.
class Url {
 public:
  struct QueryItem {
    std::string name;
    std::optional<std::string> value;  ///< absent writes the bare name
  };

  /// The Url for `text`, or nothing when it is empty or not a valid URI reference (spaces,
  /// non-ASCII characters and stray "%" are not valid; encode them first).
  static std::optional<Url> parse(std::string_view text);
  /// As `parse`, after percent-encoding every byte outside ASCII, the way the platform's URL
  /// parser takes text a person typed ("https://zh.wikipedia.org/wiki/中文"); the absolute
  /// string is the encoded text.
  static std::optional<Url> parseEncodingNonASCII(std::string_view text);

  /// A "file:" Url for an absolute file-system path, every byte that needs it percent-encoded.
  static Url fileURL(const std::filesystem::path& absolutePath);

  const std::string& absoluteString() const { return text_; }
  /// The scheme as written ("HTTPS" stays upper case); empty for a relative reference.
  const std::string& scheme() const { return scheme_; }
  /// The host without IPv6 brackets; nothing when there is no authority or it is empty.
  const std::optional<std::string>& host() const { return host_; }
  /// The percent-decoded path. A trailing "/" is dropped unless the path is just "/".
  std::string path() const;
  /// The percent-decoded last path segment ("" when there is none, "/" for the root path).
  std::string lastPathComponent() const;
  /// The query's items, percent-decoded ("+" stays "+"), in order; empty without a query.
  std::vector<QueryItem> queryItems() const;
  /// The path as a file-system path, for "file:" Urls; nothing for other schemes.
  std::optional<std::filesystem::path> filePath() const;

  /// `text` with every byte but the unreserved characters (letters, digits, "-", ".", "_", "~")
  /// percent-encoded: safe in any URI component and as an RFC 5987 header value.
  static std::string percentEncoded(std::string_view text);

  /// This Url with `component` added as one more path segment. Everything but unreserved
  /// characters is percent-encoded, so a "/" or "?" in `component` cannot change the structure;
  /// neither can "." or "..", whose dots are encoded too.
  /// A trailing "/" of the path is replaced, never doubled.
  Url appendingPathComponent(std::string_view component) const;

  /// This Url with `items` added to its query ("name=value" joined by "&", names and values
  /// percent-encoded, spaces as "%20").
  Url appendingQueryItems(const std::vector<QueryItem>& items) const;

  bool operator==(const Url& other) const { return text_ == other.text_; }

 private:
  explicit Url(std::string text) : text_(std::move(text)) {}

  std::string text_;
  std::string scheme_;
  std::optional<std::string> host_;
  std::vector<std::string> segments_;  ///< raw (still percent-encoded) path segments
  bool rootedPath_ = false;            ///< the path starts with "/"
};

}  // namespace lumo
