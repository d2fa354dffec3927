#include "ShareItemProvider.hpp"

#include <algorithm>
#include <utility>

#include "AtomicFile.hpp"
#include "BoundedText.hpp"
#include "ShareUTType.hpp"
#include "ShareUUID.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace fs = std::filesystem;

bool ShareItemProvider::hasItemConformingTo(const std::string& typeIdentifier) const {
  const auto types = registeredTypeIdentifiers();
  return std::any_of(types.begin(), types.end(), [&](const std::string& registered) {
    const auto type = ShareUTType::fromIdentifier(registered);
    return type && type->conforms(typeIdentifier);
  });
}

SharePathItemProvider::SharePathItemProvider(fs::path path) : path_(fs::absolute(path)) {}

std::vector<std::string> SharePathItemProvider::registeredTypeIdentifiers() const {
  return {ShareUTType::fileURL};
}

ShareItemValue SharePathItemProvider::loadItem(const std::string& typeIdentifier) {
  if (typeIdentifier != ShareUTType::fileURL)
    return ShareItemError{"no item of type " + typeIdentifier};
  try {
    return Url::fileURL(path_);
  } catch (const std::exception& error) {
    return ShareItemError{error.what()};
  }
}

std::optional<std::string> SharePathItemProvider::suggestedName() const {
  const auto name = path_.filename().string();
  return name.empty() ? std::nullopt : std::optional(name);
}

ShareTextItemProvider::ShareTextItemProvider(std::string text) : text_(std::move(text)) {}

std::vector<std::string> ShareTextItemProvider::registeredTypeIdentifiers() const {
  return {ShareUTType::utf8PlainText, ShareUTType::plainText};
}

std::shared_ptr<ShareTextItemProvider> ShareTextItemProvider::reading(int fd, std::size_t limit) {
  auto provider = std::make_shared<ShareTextItemProvider>(std::string());
  provider->read_ = [fd, limit] { return BoundedText::read(fd, limit).text; };
  return provider;
}

ShareItemValue ShareTextItemProvider::loadItem(const std::string&) {
  if (read_) text_ = std::exchange(read_, nullptr)();
  return ShareItemBytes{text_};  // decoded by the loader, which refuses ill-formed UTF-8
}

ShareURLItemProvider::ShareURLItemProvider(Url url) : url_(std::move(url)) {}

std::vector<std::string> ShareURLItemProvider::registeredTypeIdentifiers() const {
  return {ShareUTType::url};
}

ShareItemValue ShareURLItemProvider::loadItem(const std::string&) {
  return url_;
}

ShareDataItemProvider::ShareDataItemProvider(std::string bytes, std::string typeIdentifier,
                                             std::optional<std::string> suggestedName)
    : bytes_(std::move(bytes)),
      typeIdentifier_(std::move(typeIdentifier)),
      suggestedName_(std::move(suggestedName)) {}

std::vector<std::string> ShareDataItemProvider::registeredTypeIdentifiers() const {
  return {typeIdentifier_};
}

ShareItemValue ShareDataItemProvider::loadItem(const std::string&) {
  return ShareItemBytes{bytes_};
}

void ShareDataItemProvider::loadFileRepresentation(const std::string& typeIdentifier,
                                                   const FileHandler& handler) {
  if (typeIdentifier != typeIdentifier_) return;
  const auto type = ShareUTType::fromIdentifier(typeIdentifier_);
  std::string name = "lumo-share-data-" + makeLowercaseUUID();
  if (type && type->preferredFilenameExtension()) name += "." + *type->preferredFilenameExtension();
  std::error_code error;
  const auto file = fs::temp_directory_path(error) / name;
  try {
    AtomicFile::write(file, bytes_, 0600);
  } catch (const fs::filesystem_error&) {
    return;
  }
  handler(file);
  fs::remove(file, error);
}

}  // namespace lumo
