#include "ShareUTType.hpp"

#include <gio/gio.h>

#include <algorithm>
#include <array>

#include "UnicodeText.hpp"

namespace lumo {
namespace {

struct TypeRecord {
  const char* identifier;
  std::vector<const char*> parents;
  const char* extension;  ///< preferred; nullptr for none
  const char* mime;       ///< preferred; nullptr for none
  std::vector<const char*> otherExtensions;
};

const std::vector<TypeRecord>& knownTypes() {
  static const std::vector<TypeRecord> types = {
      {"public.item", {}, nullptr, nullptr, {}},
      {"public.content", {"public.item"}, nullptr, nullptr, {}},
      {"public.data", {"public.item"}, nullptr, nullptr, {}},
      {"public.composite-content", {"public.content"}, nullptr, nullptr, {}},
      {"public.text", {"public.data", "public.content"}, nullptr, "text/plain", {}},
      {"public.plain-text", {"public.text"}, "txt", "text/plain", {"text"}},
      {"public.utf8-plain-text", {"public.plain-text"}, "txt", "text/plain", {}},
      {"public.html", {"public.text"}, "html", "text/html", {"htm"}},
      {"public.json", {"public.text"}, "json", "application/json", {}},
      {"public.comma-separated-values-text", {"public.text"}, "csv", "text/csv", {}},
      {"public.rtf", {"public.text"}, "rtf", "text/rtf", {}},
      {"net.daringfireball.markdown", {"public.plain-text"}, "md", "text/markdown", {"markdown"}},
      {"public.image", {"public.data", "public.content"}, nullptr, nullptr, {}},
      {"public.jpeg", {"public.image"}, "jpeg", "image/jpeg", {"jpg", "jpe"}},
      {"public.png", {"public.image"}, "png", "image/png", {}},
      {"public.heic", {"public.image"}, "heic", "image/heic", {}},
      {"public.heif", {"public.image"}, "heif", "image/heif", {}},
      {"com.compuserve.gif", {"public.image"}, "gif", "image/gif", {}},
      {"public.gif", {"public.image"}, "gif", "image/gif", {}},
      {"public.tiff", {"public.image"}, "tiff", "image/tiff", {"tif"}},
      {"org.webmproject.webp", {"public.image"}, "webp", "image/webp", {}},
      {"public.svg-image", {"public.image"}, "svg", "image/svg+xml", {}},
      {"com.microsoft.bmp", {"public.image"}, "bmp", "image/bmp", {}},
      {"public.audiovisual-content", {"public.data", "public.content"}, nullptr, nullptr, {}},
      {"public.movie", {"public.audiovisual-content"}, nullptr, nullptr, {}},
      {"public.video", {"public.movie"}, nullptr, nullptr, {}},
      {"public.mpeg-4", {"public.movie"}, "mp4", "video/mp4", {"m4v"}},
      {"com.apple.quicktime-movie", {"public.movie"}, "mov", "video/quicktime", {"qt"}},
      {"public.avi", {"public.movie"}, "avi", "video/avi", {}},
      {"org.webmproject.webm", {"public.movie"}, "webm", "video/webm", {}},
      {"org.matroska.mkv", {"public.movie"}, "mkv", "video/x-matroska", {}},
      {"public.audio", {"public.audiovisual-content"}, nullptr, nullptr, {}},
      {"public.mp3", {"public.audio"}, "mp3", "audio/mpeg", {}},
      {"public.mpeg-4-audio", {"public.audio"}, "m4a", "audio/mp4", {}},
      {"com.microsoft.waveform-audio", {"public.audio"}, "wav", "audio/wav", {"wave"}},
      {"org.xiph.flac", {"public.audio"}, "flac", "audio/flac", {}},
      {"org.xiph.ogg-audio", {"public.audio"}, "ogg", "audio/ogg", {"oga"}},
      {"public.url", {"public.data"}, nullptr, nullptr, {}},
      {"public.file-url", {"public.url"}, nullptr, nullptr, {}},
      {"public.directory", {"public.item"}, nullptr, nullptr, {}},
      {"public.folder", {"public.directory"}, nullptr, nullptr, {}},
      {"com.apple.package", {"public.directory"}, nullptr, nullptr, {}},
      {"com.apple.bundle", {"public.directory"}, nullptr, nullptr, {}},
      {"com.apple.application-bundle",
       {"com.apple.package", "com.apple.bundle"},
       "app",
       nullptr,
       {}},
      {"public.archive", {"public.data"}, nullptr, nullptr, {}},
      {"public.zip-archive", {"public.archive"}, "zip", "application/zip", {}},
      {"org.gnu.gnu-zip-archive", {"public.archive"}, "gz", "application/gzip", {"gzip"}},
      {"public.tar-archive", {"public.archive"}, "tar", "application/x-tar", {}},
      {"com.adobe.pdf", {"public.data", "public.composite-content"}, "pdf", "application/pdf", {}},
      {"org.openxmlformats.wordprocessingml.document",
       {"public.data", "public.composite-content"},
       "docx",
       "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
       {}},
      {"org.openxmlformats.spreadsheetml.sheet",
       {"public.data", "public.composite-content"},
       "xlsx",
       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
       {}},
      {"org.openxmlformats.presentationml.presentation",
       {"public.data", "public.composite-content"},
       "pptx",
       "application/vnd.openxmlformats-officedocument.presentationml.presentation",
       {}},
  };
  return types;
}

const TypeRecord* findRecord(std::string_view identifier) {
  for (const auto& record : knownTypes()) {
    if (identifier == record.identifier) return &record;
  }
  return nullptr;
}

const TypeRecord* findByExtension(std::string_view extension) {
  for (const auto& record : knownTypes()) {
    if (record.extension != nullptr && extension == record.extension) return &record;
    for (const auto* other : record.otherExtensions) {
      if (extension == other) return &record;
    }
  }
  return nullptr;
}

constexpr std::string_view dynamicPrefix = "dyn.ext.";

/// The MIME type shared-mime-info guesses from a file name or content; nothing when unsure.
std::optional<std::string> guessedMIMEType(const char* name, std::string_view content) {
  gboolean uncertain = FALSE;
  gchar* contentType = g_content_type_guess(name, reinterpret_cast<const guchar*>(content.data()),
                                            content.size(), &uncertain);
  if (contentType == nullptr) return std::nullopt;
  gchar* mime = g_content_type_get_mime_type(contentType);
  g_free(contentType);
  if (mime == nullptr) return std::nullopt;
  std::string result(mime);
  g_free(mime);
  if (uncertain || result == "application/octet-stream") return std::nullopt;
  return result;
}

}  // namespace

std::optional<ShareUTType> ShareUTType::fromIdentifier(std::string_view identifier) {
  if (const auto* record = findRecord(identifier)) {
    std::vector<std::string> parents(record->parents.begin(), record->parents.end());
    return ShareUTType(
        record->identifier, std::move(parents),
        record->extension ? std::optional<std::string>(record->extension) : std::nullopt,
        record->mime ? std::optional<std::string>(record->mime) : std::nullopt);
  }
  if (identifier.substr(0, dynamicPrefix.size()) == dynamicPrefix) {
    return dynamicType(identifier.substr(dynamicPrefix.size()));
  }
  return std::nullopt;
}

std::optional<ShareUTType> ShareUTType::fromFilenameExtension(std::string_view extension,
                                                              std::string_view conformingTo) {
  if (extension.empty()) return std::nullopt;
  const auto lowered = UnicodeText::lowercased(extension);
  std::optional<ShareUTType> type;
  if (const auto* record = findByExtension(lowered)) {
    type = fromIdentifier(record->identifier);
  } else {
    type = dynamicType(lowered);
  }
  if (!type || !type->conforms(conformingTo)) return std::nullopt;
  return type;
}

std::optional<ShareUTType> ShareUTType::fromContent(std::string_view sample) {
  const auto mime = guessedMIMEType(nullptr, sample);
  if (!mime) return std::nullopt;
  for (const auto& record : knownTypes()) {
    if (record.mime != nullptr && record.extension != nullptr && *mime == record.mime) {
      return fromIdentifier(record.identifier);
    }
  }
  return std::nullopt;
}

std::optional<ShareUTType> ShareUTType::dynamicType(std::string_view extension) {
  if (extension.empty()) return std::nullopt;
  const std::string lowered = UnicodeText::lowercased(extension);
  auto mime = guessedMIMEType(("file." + lowered).c_str(), {});
  std::vector<std::string> parents = {data};
  if (mime) {
    const auto topLevel = mime->substr(0, mime->find('/'));
    if (topLevel == "image") parents.push_back(image);
    if (topLevel == "video") parents.push_back(movie);
    if (topLevel == "audio") parents.push_back(audio);
  }
  return ShareUTType(std::string(dynamicPrefix) + lowered, std::move(parents), std::nullopt,
                     std::move(mime));
}

bool ShareUTType::conforms(std::string_view other) const {
  if (identifier_ == other) return true;
  // Parents of known types are walked through the registry; the hierarchy is a small DAG.
  std::vector<std::string> pending = parents_;
  while (!pending.empty()) {
    const auto current = pending.back();
    pending.pop_back();
    if (current == other) return true;
    if (const auto* record = findRecord(current)) {
      pending.insert(pending.end(), record->parents.begin(), record->parents.end());
    }
  }
  return false;
}

}  // namespace lumo
