#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

/// A uniform type identifier ("public.jpeg") with its conformance, preferred file name extension
/// and preferred MIME type. The registry knows the types the system works with; a file name
/// extension it does not know is looked up in the shared-mime-info database, giving a dynamic
/// type ("dyn.ext.<extension>") that conforms to public.data and, by its MIME type's top level,
/// to public.image, public.movie or public.audio.
class ShareUTType {
 public:
  /// The known type with this identifier (or a dynamic one this registry made).
  static std::optional<ShareUTType> fromIdentifier(std::string_view identifier);
  /// The type for a file name extension that conforms to `conformingTo` (public.data by default).
  static std::optional<ShareUTType> fromFilenameExtension(
      std::string_view extension, std::string_view conformingTo = "public.data");

  /// The known type, with a file name extension, that shared-mime-info recognises in the first
  /// bytes of some content; nothing when it is unsure or the type is not one the registry knows.
  static std::optional<ShareUTType> fromContent(std::string_view sample);

  const std::string& identifier() const { return identifier_; }
  const std::optional<std::string>& preferredFilenameExtension() const { return extension_; }
  const std::optional<std::string>& preferredMIMEType() const { return mime_; }
  /// Whether this type is `other` or conforms to it through its parents.
  bool conforms(std::string_view other) const;

  bool operator==(const ShareUTType& other) const { return identifier_ == other.identifier_; }

  static constexpr char item[] = "public.item";
  static constexpr char data[] = "public.data";
  static constexpr char image[] = "public.image";
  static constexpr char movie[] = "public.movie";
  static constexpr char audio[] = "public.audio";
  static constexpr char fileURL[] = "public.file-url";
  static constexpr char url[] = "public.url";
  static constexpr char plainText[] = "public.plain-text";
  static constexpr char utf8PlainText[] = "public.utf8-plain-text";
  static constexpr char folder[] = "public.folder";
  static constexpr char zipArchive[] = "public.zip-archive";

 private:
  ShareUTType(std::string identifier, std::vector<std::string> parents,
              std::optional<std::string> extension, std::optional<std::string> mime)
      : identifier_(std::move(identifier)),
        parents_(std::move(parents)),
        extension_(std::move(extension)),
        mime_(std::move(mime)) {}

  static std::optional<ShareUTType> dynamicType(std::string_view extension);

  std::string identifier_;
  std::vector<std::string> parents_;  ///< direct conformances
  std::optional<std::string> extension_;
  std::optional<std::string> mime_;
};

}  // namespace lumo
