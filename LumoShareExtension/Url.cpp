#include "Url.hpp"

#include <fmt/format.h>
#include <uriparser/Uri.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace lumo {
namespace {

std::string rangeText(const UriTextRangeA& range) {
  if (range.first == nullptr || range.afterLast == nullptr) return {};
  return std::string(range.first, range.afterLast);
}

bool rangePresent(const UriTextRangeA& range) {
  return range.first != nullptr;
}

/// Owns a parsed uriparser structure.
class ParsedUri {
 public:
  explicit ParsedUri(const std::string& text) {
    const char* errorPosition = nullptr;
    ok_ = uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(), &errorPosition) ==
          URI_SUCCESS;
  }
  ~ParsedUri() {
    if (ok_) uriFreeUriMembersA(&uri_);
  }
  ParsedUri(const ParsedUri&) = delete;
  ParsedUri& operator=(const ParsedUri&) = delete;

  bool ok() const { return ok_; }
  UriUriA& get() { return uri_; }

  std::string recomposed() const {
    int required = 0;
    if (uriToStringCharsRequiredA(&uri_, &required) != URI_SUCCESS) {
      throw std::logic_error("cannot recompose URI");
    }
    std::string text(static_cast<std::size_t>(required) + 1, '\0');
    uriToStringA(text.data(), &uri_, required + 1, nullptr);
    text.resize(std::strlen(text.c_str()));
    return text;
  }

 private:
  UriUriA uri_{};
  bool ok_ = false;
};

std::string percentDecoded(std::string text) {
  text.push_back('\0');
  const char* end = uriUnescapeInPlaceExA(text.data(), URI_FALSE, URI_BR_DONT_TOUCH);
  text.resize(static_cast<std::size_t>(end - text.data()));
  return text;
}

std::string composedQuery(const std::vector<Url::QueryItem>& items) {
  std::string query;
  for (const auto& item : items) {
    if (!query.empty()) query += '&';
    query += Url::percentEncoded(item.name);
    if (item.value) query += '=' + Url::percentEncoded(*item.value);
  }
  return query;
}

}  // namespace

std::optional<Url> Url::parseEncodingNonASCII(std::string_view text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (const char byte : text) {
    const auto value = static_cast<unsigned char>(byte);
    if (value < 0x80) {
      encoded += byte;
    } else {
      encoded += fmt::format("%{:02X}", value);
    }
  }
  return parse(encoded);
}

std::optional<Url> Url::parse(std::string_view text) {
  if (text.empty()) return std::nullopt;
  Url url{std::string(text)};
  ParsedUri parsed(url.text_);
  if (!parsed.ok()) return std::nullopt;
  const auto& uri = parsed.get();
  url.scheme_ = rangeText(uri.scheme);
  const bool hasAuthority = rangePresent(uri.hostText);
  if (hasAuthority && uri.hostText.first != uri.hostText.afterLast) {
    url.host_ = rangeText(uri.hostText);
  }
  for (const auto* segment = uri.pathHead; segment != nullptr; segment = segment->next) {
    url.segments_.push_back(rangeText(segment->text));
  }
  url.rootedPath_ = uri.absolutePath == URI_TRUE || (hasAuthority && uri.pathHead != nullptr);
  return url;
}

Url Url::fileURL(const std::filesystem::path& absolutePath) {
  const auto& file = absolutePath.native();
  // uriparser's documented bound: 3 bytes per input byte plus "file://" and the terminator.
  std::string text(file.size() * 3 + 8, '\0');
  if (uriUnixFilenameToUriStringA(file.c_str(), text.data()) != URI_SUCCESS) {
    throw std::invalid_argument("not a file path: " + file);
  }
  text.resize(std::strlen(text.c_str()));
  auto url = parse(text);
  if (!url) throw std::invalid_argument("not a file path: " + file);
  return *std::move(url);
}

std::string Url::path() const {
  std::string path = rootedPath_ ? "/" : "";
  for (std::size_t index = 0; index < segments_.size(); ++index) {
    if (index > 0) path += '/';
    path += segments_[index];
  }
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return percentDecoded(std::move(path));
}

std::string Url::lastPathComponent() const {
  for (auto segment = segments_.rbegin(); segment != segments_.rend(); ++segment) {
    if (!segment->empty()) return percentDecoded(*segment);
  }
  return rootedPath_ ? "/" : "";
}

std::vector<Url::QueryItem> Url::queryItems() const {
  ParsedUri parsed(text_);
  const auto& uri = parsed.get();
  std::vector<QueryItem> items;
  if (!rangePresent(uri.query) || uri.query.first == uri.query.afterLast) return items;
  UriQueryListA* list = nullptr;
  int count = 0;
  if (uriDissectQueryMallocExA(&list, &count, uri.query.first, uri.query.afterLast, URI_FALSE,
                               URI_BR_DONT_TOUCH) != URI_SUCCESS) {
    return items;
  }
  for (const auto* item = list; item != nullptr; item = item->next) {
    items.push_back({item->key ? item->key : "",
                     item->value ? std::optional<std::string>(item->value) : std::nullopt});
  }
  uriFreeQueryListA(list);
  return items;
}

std::optional<std::filesystem::path> Url::filePath() const {
  if (scheme_ != "file" && scheme_ != "FILE") return std::nullopt;
  std::string file(text_.size() + 1, '\0');
  if (uriUriStringToUnixFilenameA(text_.c_str(), file.data()) != URI_SUCCESS) return std::nullopt;
  file.resize(std::strlen(file.c_str()));
  return std::filesystem::path(file);
}

std::string Url::percentEncoded(std::string_view text) {
  std::string encoded(text.size() * 3 + 1, '\0');
  const char* end =
      uriEscapeExA(text.data(), text.data() + text.size(), encoded.data(), URI_FALSE, URI_FALSE);
  encoded.resize(static_cast<std::size_t>(end - encoded.data()));
  return encoded;
}

Url Url::appendingPathComponent(std::string_view component) const {
  // "." and ".." are data here, not steps: encoded, no later normalisation can climb with them.
  const auto encoded = component == "."    ? std::string("%2E")
                       : component == ".." ? std::string("%2E%2E")
                                           : percentEncoded(component);
  ParsedUri parsed(text_);
  auto& uri = parsed.get();
  UriPathSegmentA extra{};
  extra.text.first = encoded.data();
  extra.text.afterLast = encoded.data() + encoded.size();
  auto* const tail = uri.pathTail;
  const auto tailText = tail != nullptr ? tail->text : UriTextRangeA{};
  // The segment structures belong to uriparser; link ours in only while recomposing.
  if (tail != nullptr && tailText.first == tailText.afterLast) {
    tail->text = extra.text;
  } else if (tail != nullptr) {
    tail->next = &extra;
    uri.pathTail = &extra;
  } else {
    uri.pathHead = uri.pathTail = &extra;
  }
  auto text = parsed.recomposed();
  if (tail != nullptr) {
    tail->text = tailText;
    tail->next = nullptr;
    uri.pathTail = tail;
  } else {
    uri.pathHead = uri.pathTail = nullptr;
  }
  return *parse(text);
}

Url Url::appendingQueryItems(const std::vector<QueryItem>& items) const {
  if (items.empty()) return *this;
  ParsedUri parsed(text_);
  auto& uri = parsed.get();
  const auto existing = rangeText(uri.query);
  const auto query =
      existing.empty() ? composedQuery(items) : existing + "&" + composedQuery(items);
  const auto savedQuery = uri.query;
  uri.query.first = query.data();
  uri.query.afterLast = query.data() + query.size();
  auto text = parsed.recomposed();
  uri.query = savedQuery;
  return *parse(text);
}

}  // namespace lumo
