#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Url.hpp"

namespace lumo {

/// A text item.
struct ShareItemText {
  std::string text;
};
/// Raw bytes delivered as an item.
struct ShareItemBytes {
  std::string bytes;
};
/// The provider could not load the item.
struct ShareItemError {
  std::string description;
};
/// What loading an item gave: nothing, a text, a URL, bytes, or an error.
using ShareItemValue =
    std::variant<std::monostate, ShareItemText, Url, ShareItemBytes, ShareItemError>;

/// One shared thing (a file, a folder, a text, a link, clipboard data) as the loader sees it.
class ShareItemProvider {
 public:
  using FileHandler = std::function<void(const std::filesystem::path& file)>;

  virtual ~ShareItemProvider() = default;

  /// The type identifiers the provider offers, in its order of preference.
  virtual std::vector<std::string> registeredTypeIdentifiers() const = 0;
  /// Loads the item for one of the registered types.
  virtual ShareItemValue loadItem(const std::string& typeIdentifier) = 0;
  /// Calls `handler` with a file holding the item's data, valid only during the call. A provider
  /// that has no file does not call it (or the file does not exist).
  virtual void loadFileRepresentation(const std::string& typeIdentifier,
                                      const FileHandler& handler) = 0;
  /// A name for the item, when the provider has one.
  virtual std::optional<std::string> suggestedName() const = 0;

  /// Whether a registered type is a known type conforming to `typeIdentifier`.
  bool hasItemConformingTo(const std::string& typeIdentifier) const;
};

/// A file or folder handed over by path: registered as a file URL only, so that files keep their
/// names and folders are zipped, as a file manager shares them.
class SharePathItemProvider final : public ShareItemProvider {
 public:
  explicit SharePathItemProvider(std::filesystem::path path);
  std::vector<std::string> registeredTypeIdentifiers() const override;
  ShareItemValue loadItem(const std::string& typeIdentifier) override;
  void loadFileRepresentation(const std::string&, const FileHandler&) override {}
  std::optional<std::string> suggestedName() const override;

 private:
  std::filesystem::path path_;
};

/// A text, as given (an option's value, standard input), or read from a stream when the loader
/// first asks for it (a pipe into the panel: the window is up while a slow writer still writes).
/// Bytes that are not UTF-8 read as no text.
class ShareTextItemProvider final : public ShareItemProvider {
 public:
  explicit ShareTextItemProvider(std::string text);
  /// The text of `fd`, at most `limit` bytes, read on first use.
  static std::shared_ptr<ShareTextItemProvider> reading(int fd, std::size_t limit);

  std::vector<std::string> registeredTypeIdentifiers() const override;
  ShareItemValue loadItem(const std::string& typeIdentifier) override;
  void loadFileRepresentation(const std::string&, const FileHandler&) override {}
  std::optional<std::string> suggestedName() const override { return std::nullopt; }

 private:
  std::function<std::string()> read_;  ///< the read still to do, if any
  std::string text_;
};

/// A web link.
class ShareURLItemProvider final : public ShareItemProvider {
 public:
  explicit ShareURLItemProvider(Url url);
  std::vector<std::string> registeredTypeIdentifiers() const override;
  ShareItemValue loadItem(const std::string& typeIdentifier) override;
  void loadFileRepresentation(const std::string&, const FileHandler&) override {}
  std::optional<std::string> suggestedName() const override { return std::nullopt; }

 private:
  Url url_;
};

/// Raw bytes of one type (a clipboard image, piped data), delivered as a temporary file.
class ShareDataItemProvider final : public ShareItemProvider {
 public:
  ShareDataItemProvider(std::string bytes, std::string typeIdentifier,
                        std::optional<std::string> suggestedName = std::nullopt);
  std::vector<std::string> registeredTypeIdentifiers() const override;
  ShareItemValue loadItem(const std::string& typeIdentifier) override;
  void loadFileRepresentation(const std::string& typeIdentifier,
                              const FileHandler& handler) override;
  std::optional<std::string> suggestedName() const override { return suggestedName_; }

 private:
  std::string bytes_;
  std::string typeIdentifier_;
  std::optional<std::string> suggestedName_;
};

}  // namespace lumo
