#include "ShareTargetLoader.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include "AtomicFile.hpp"
#include "FileCopy.hpp"
#include "ShareL10n.hpp"
#include "ShareLogMessages.hpp"
#include "ShareText.hpp"
#include "ShareUUID.hpp"
#include "Thumbnailer.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace fs = std::filesystem;
namespace {

using Kind = RawAttachment::Kind;

/// Classification order: the first category the provider has an item for decides.
constexpr std::array<const char*, 7> categories = {
    ShareUTType::movie, ShareUTType::image,     ShareUTType::audio, ShareUTType::fileURL,
    ShareUTType::url,   ShareUTType::plainText, ShareUTType::data,
};

/// Removes a temporary copy when copying one provider ends, whatever the outcome.
struct TemporaryCopy {
  std::optional<fs::path> path;
  ~TemporaryCopy() {
    std::error_code ignored;
    if (path) fs::remove_all(*path, ignored);
  }
};

/// Longest staged file name: what the common Linux file systems store.
constexpr std::size_t maxFileNameBytes = 255;

std::string pathExtension(const std::string& name) {
  return std::string(ShareText::pathExtension(name));
}

std::string stem(const std::string& name) {
  const auto extension = pathExtension(name);
  return extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
}

/// "NN-name", shortened to a name the file system can store.
std::string numbered(std::size_t counter, const std::string& name) {
  return ShareText::fitFileName(fmt::format("{:02d}-{}", counter, name), maxFileNameBytes);
}

/// "NN-stem.ext" for a file: the original name's extension, else the type's, else "bin". The
/// extension is kept even when the stem itself holds a dot ("report.v2.pdf" stays a ".pdf"):
/// the safe-name helper alone would see "v2" as the extension and drop the real one.
std::string destinationName(std::size_t counter, const std::optional<std::string>& originalName,
                            const ShareUTType& type) {
  const auto name = fs::path(originalName.value_or("attachment")).filename().string();
  auto extension = pathExtension(name);
  if (extension.empty()) extension = type.preferredFilenameExtension().value_or("bin");
  auto safe = ShareText::safeFileName(stem(name), extension);
  const auto suffix = "." + ShareText::safeFileName(extension);
  if (safe.size() < suffix.size() ||
      safe.compare(safe.size() - suffix.size(), suffix.size(), suffix) != 0) {
    safe += suffix;
  }
  return numbered(counter, safe);
}

/// The name of a folder's zip: the given name trimmed, else the fallback, else "archive", with
/// ".zip" and made safe.
std::string zipName(const std::optional<std::string>& preferred, const std::string& fallback) {
  std::string name = preferred ? std::string(UnicodeText::trimmed(*preferred)) : std::string();
  if (name.empty()) name = fallback;
  if (name.empty()) name = "archive";
  if (name.size() < 4 || name.substr(name.size() - 4) != ".zip") name += ".zip";
  return ShareText::safeFileName(name, "zip");
}

bool isDirectory(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

std::optional<std::int64_t> fileSize(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return error ? std::nullopt : std::optional(static_cast<std::int64_t>(size));
}

/// The bytes that staging `path` reads: a file's size, or the sizes of the files in a folder
/// (symbolic links not followed); what cannot be read counts nothing.
std::int64_t stagingBytes(const fs::path& path) {
  std::error_code error;
  if (!fs::is_directory(path, error)) return fileSize(path).value_or(0);
  std::int64_t bytes = 0;
  for (auto entry = fs::recursive_directory_iterator(
           path, fs::directory_options::skip_permission_denied, error);
       !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->is_regular_file(error) && !entry->is_symlink(error)) {
      bytes += static_cast<std::int64_t>(entry->file_size(error));
    }
  }
  return bytes;
}

}  // namespace

const char* rawAttachmentKindName(RawAttachment::Kind kind) {
  switch (kind) {
    case Kind::image:
      return "image";
    case Kind::audio:
      return "audio";
    case Kind::video:
      return "video";
    case Kind::file:
      return "file";
  }
  return "file";
}

/// One run of `load`: the payload being built and the attachment counter shared by all copies.
class ShareTargetLoader::Pass {
 public:
  explicit Pass(const ShareTargetLoader& loader) : loader_(loader) {
    payload_.source = loader.source_;
  }

  RawSharePayload run(const std::vector<std::shared_ptr<ShareItemProvider>>& providers) {
    if (loader_.progress_) total_ = plannedBytes(providers);
    for (const auto& provider : providers) {
      if (counter_ >= loader_.maxItems_) {
        record(Skipped{"items_limit", std::nullopt});
        break;
      }
      handle(*provider);
    }
    if (!payload_.url && payload_.text) payload_.url = ShareText::singleURL(*payload_.text);
    reportDone(total_);
    return std::move(payload_);
  }

 private:
  /// The bytes of the files and folders that the providers name by path, as far as the items
  /// limit reads them.
  std::int64_t plannedBytes(const std::vector<std::shared_ptr<ShareItemProvider>>& providers) {
    std::int64_t bytes = 0;
    const auto count = std::min(providers.size(), loader_.maxItems_);
    for (std::size_t index = 0; index < count; ++index) {
      auto& provider = *providers[index];
      const auto types = provider.registeredTypeIdentifiers();
      if (std::find(types.begin(), types.end(), ShareUTType::fileURL) == types.end()) continue;
      const auto url = readURL(provider.loadItem(ShareUTType::fileURL));
      if (const auto path = url ? url->filePath() : std::nullopt) bytes += stagingBytes(*path);
    }
    return bytes;
  }

  /// Tells the progress that `done` bytes are staged, keeping it monotone and within the total.
  void reportDone(std::int64_t done) {
    if (!loader_.progress_) return;
    done_ = std::clamp(done, done_, total_);
    loader_.progress_(done_, total_);
  }

  void handle(ShareItemProvider& provider) {
    const auto category = classify(provider);
    if (!category) return record(Skipped{"unsupported_provider", std::nullopt});
    const std::string wanted = *category;
    if (wanted == ShareUTType::movie) return record(copyAttachment(provider, wanted, Kind::video));
    if (wanted == ShareUTType::image) return record(copyAttachment(provider, wanted, Kind::image));
    if (wanted == ShareUTType::audio) return record(copyAttachment(provider, wanted, Kind::audio));
    if (wanted == ShareUTType::fileURL) return record(copyFileURL(provider));
    if (wanted == ShareUTType::url) return takeURL(provider);
    if (wanted == ShareUTType::plainText) return mergeText(loadText(provider));
    record(copyAttachment(provider, wanted, Kind::file));
  }

  static std::optional<const char*> classify(const ShareItemProvider& provider) {
    for (const auto* category : categories) {
      if (provider.hasItemConformingTo(category)) return category;
    }
    return std::nullopt;
  }

  /// The provider's first registered type conforming to `wanted`, preferring one that has a file
  /// name extension.
  static std::optional<ShareUTType> firstType(const ShareItemProvider& provider,
                                              const std::string& wanted) {
    std::optional<ShareUTType> first;
    for (const auto& identifier : provider.registeredTypeIdentifiers()) {
      const auto type = ShareUTType::fromIdentifier(identifier);
      if (!type || !type->conforms(wanted)) continue;
      if (type->preferredFilenameExtension()) return type;
      if (!first) first = type;
    }
    return first;
  }

  void record(CopyOutcome outcome) {
    if (auto* attachment = std::get_if<RawAttachment>(&outcome)) {
      payload_.attachments.push_back(std::move(*attachment));
      return;
    }
    auto& skipped = std::get<Skipped>(outcome);
    if (loader_.skipped_) loader_.skipped_(skipped);
    payload_.skippedReasons.push_back(std::move(skipped.reason));
    if (skipped.failure) payload_.failures.push_back(std::move(*skipped.failure));
  }

  static ShareItemValue loadItem(ShareItemProvider& provider, const std::string& typeIdentifier) {
    auto value = provider.loadItem(typeIdentifier);
    if (const auto* error = std::get_if<ShareItemError>(&value)) {
      ShareLogMessages::loadItemFailed(typeIdentifier, error->description);
      return std::monostate{};
    }
    return value;
  }

  static std::optional<Url> readURL(const ShareItemValue& value) {
    if (const auto* url = std::get_if<Url>(&value)) return *url;
    if (const auto* text = std::get_if<ShareItemText>(&value)) return Url::parse(text->text);
    if (const auto* bytes = std::get_if<ShareItemBytes>(&value)) {
      return Url::parse(UnicodeText::wellFormed(bytes->bytes));
    }
    return std::nullopt;
  }

  static std::optional<std::string> loadText(ShareItemProvider& provider) {
    const auto type = firstType(provider, ShareUTType::plainText);
    const auto value = loadItem(provider, type ? type->identifier() : ShareUTType::plainText);
    if (const auto* text = std::get_if<ShareItemText>(&value))
      return UnicodeText::wellFormed(text->text);
    if (const auto* bytes = std::get_if<ShareItemBytes>(&value)) {
      if (UnicodeText::wellFormed(bytes->bytes) == bytes->bytes) return bytes->bytes;
    }
    return std::nullopt;
  }

  void takeURL(ShareItemProvider& provider) {
    if (payload_.url) return;
    const auto type = firstType(provider, ShareUTType::url);
    if (!type) return;
    if (auto url = readURL(loadItem(provider, type->identifier()))) payload_.url = std::move(url);
  }

  void mergeText(std::optional<std::string> text) {
    if (!text) return;
    if (!payload_.text || payload_.text->empty()) {
      payload_.text = std::move(text);
    } else if (*payload_.text != *text) {
      *payload_.text += "\n\n" + *text;
    }
  }

  CopyOutcome copyAttachment(ShareItemProvider& provider, const std::string& category, Kind kind) {
    const auto type = firstType(provider, category);
    if (!type) return Skipped{"type_identifier_missing:" + category, std::nullopt};
    TemporaryCopy copy;
    provider.loadFileRepresentation(type->identifier(), [&](const fs::path& delivered) {
      copy.path = temporaryCopy(delivered);
    });
    if (!copy.path)
      return Skipped{"file_representation_unavailable:" + type->identifier(), std::nullopt};
    if (isDirectory(*copy.path)) {
      return archive(*copy.path, zipName(provider.suggestedName(), copy.path->filename().string()),
                     type->identifier(), false);
    }
    ++counter_;
    const auto name = destinationName(counter_, std::nullopt, *type);
    const auto staged = stage(*copy.path, name);
    if (const auto* error = std::get_if<CopyError>(&staged)) {
      ShareLogMessages::stageAttachmentFailed(error->text);
      return Skipped{"copy_failed:" + type->identifier(), std::nullopt,
                     ShareTargetLoader::copyCause(error->code)};
    }
    return describeStaged(name, kind, *type,
                          pathExtension(name).empty() ? std::nullopt : std::optional(name),
                          std::get<std::string>(staged));
  }

  CopyOutcome copyFileURL(ShareItemProvider& provider) {
    const auto type = firstType(provider, ShareUTType::fileURL);
    if (!type) return Skipped{"file_url_type_missing", std::nullopt};
    const auto url = readURL(loadItem(provider, type->identifier()));
    const auto path = url ? url->filePath() : std::nullopt;
    if (!path) return Skipped{"file_url_unreadable", std::nullopt};
    const auto lastComponent = url->lastPathComponent();
    std::error_code error;
    if (!fs::exists(*path, error)) return Skipped{"file_missing:" + lastComponent, std::nullopt};
    if (isDirectory(*path)) return archive(*path, zipName(lastComponent, ""), lastComponent, true);

    const auto fileType = ShareUTType::fromFilenameExtension(pathExtension(lastComponent))
                              .value_or(*ShareUTType::fromIdentifier(ShareUTType::data));
    ++counter_;
    const auto name = destinationName(counter_, lastComponent, fileType);
    const auto staged = stage(
        *path, name, [this, before = done_](std::int64_t copied) { reportDone(before + copied); });
    if (const auto* error = std::get_if<CopyError>(&staged)) {
      ShareLogMessages::copyFileURLFailed(error->text);
      return Skipped{"copy_failed:" + lastComponent, std::nullopt,
                     ShareTargetLoader::copyCause(error->code)};
    }
    return describeStaged(name, kindOf(fileType), fileType, lastComponent,
                          std::get<std::string>(staged));
  }

  static Kind kindOf(const ShareUTType& type) {
    if (type.conforms(ShareUTType::image)) return Kind::image;
    if (type.conforms(ShareUTType::movie)) return Kind::video;
    if (type.conforms(ShareUTType::audio)) return Kind::audio;
    return Kind::file;
  }

  /// Zips `directory` as the next numbered attachment.
  CopyOutcome archive(const fs::path& directory, const std::string& name, const std::string& detail,
                      bool sharedFolder) {
    ++counter_;
    const auto destination = numbered(counter_, name);
    const auto before = done_;
    const auto folderBytes = sharedFolder && loader_.progress_ ? stagingBytes(directory) : 0;
    ShareArchive::Reading reading;
    if (folderBytes > 0) {
      reading = [this, before, folderBytes](std::int64_t read) {
        reportDone(before + std::min(read, folderBytes));
      };
    }
    try {
      const auto size = loader_.archive_.makeZip(directory, loader_.stagingDirectory_ / destination,
                                                 archiveTimeoutSeconds, reading);
      reportDone(before + folderBytes);
      return RawAttachment{Kind::file, "application/zip", name, destination, size, {}, {}, {}, {}};
    } catch (const std::exception& error) {
      // The log keeps the archiver's own words; the person reads the reason in theirs.
      const auto reason = ShareArchive::describe(error);
      if (sharedFolder) {
        ShareLogMessages::archiveFileURLDirectoryFailed(reason);
      } else {
        ShareLogMessages::archiveAttachmentFailed(reason);
      }
      const auto* archiveError = dynamic_cast<const ShareArchiveError*>(&error);
      return Skipped{"archive_failed:" + detail,
                     archiveError ? archiveError->personReason() : reason};
    }
  }

  struct CopyError {
    std::string text;
    std::error_code code;  ///< the system's, when it gave one
  };

  /// Copies `source` into the staging folder as `name`; the staged bytes' SHA-256, or the error.
  std::variant<std::string, CopyError> stage(
      const fs::path& source, const std::string& name,
      const std::function<void(std::int64_t)>& copied = {}) const {
    try {
      AtomicFile::createDirectories(loader_.stagingDirectory_);
    } catch (const fs::filesystem_error&) {
      // the copy below reports the problem
    }
    try {
      return FileCopy::copyHashing(source, loader_.stagingDirectory_ / name, copied);
    } catch (const fs::filesystem_error& error) {
      return CopyError{error.what(), error.code()};
    } catch (const std::exception& error) {
      return CopyError{error.what(), {}};
    }
  }

  RawAttachment describeStaged(const std::string& name, Kind kind, const ShareUTType& type,
                               std::optional<std::string> originalName, std::string sha256) const {
    const auto file = loader_.stagingDirectory_ / name;
    RawAttachment attachment{kind,
                             type.preferredMIMEType().value_or("application/octet-stream"),
                             std::move(originalName),
                             name,
                             fileSize(file).value_or(0),
                             {},
                             {},
                             {},
                             std::move(sha256)};
    if (kind == Kind::image) {
      if (const auto size = Thumbnailer::imagePixelSize(file)) {
        attachment.width = size->width;
        attachment.height = size->height;
      }
    }
    if (kind == Kind::video) attachment.durationMs = ShareTargetLoader::videoDurationMs(file);
    return attachment;
  }

  /// A private copy of a delivered file, which is valid only during the provider's callback.
  static std::optional<fs::path> temporaryCopy(const fs::path& delivered) {
    std::error_code error;
    if (!fs::exists(delivered, error)) return std::nullopt;
    auto name = "lumo-share-item-" + makeLowercaseUUID();
    if (const auto extension = pathExtension(delivered.filename().string()); !extension.empty()) {
      name += "." + extension;
    }
    const auto copy = fs::temp_directory_path(error) / name;
    fs::remove_all(copy, error);
    fs::copy(delivered, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) {
      fs::remove_all(copy, error);
      return std::nullopt;
    }
    return copy;
  }

  const ShareTargetLoader& loader_;
  RawSharePayload payload_;
  std::size_t counter_ = 0;
  std::int64_t total_ = 0;  ///< bytes to stage, when someone follows the progress
  std::int64_t done_ = 0;
};

std::optional<std::string> ShareTargetLoader::copyCause(const std::error_code& code) {
  const auto condition = code.default_error_condition();
  if (condition == std::errc::no_space_on_device ||
      condition == std::error_condition(EDQUOT, std::generic_category())) {
    return ShareL10n::tr("磁盘空间不足");
  }
  if (condition == std::errc::permission_denied ||
      condition == std::errc::operation_not_permitted) {
    return ShareL10n::tr("权限不足");
  }
  return std::nullopt;
}

ShareTargetLoader::ShareTargetLoader(fs::path stagingDirectory, std::size_t maxItems,
                                     ShareSource source, ShareArchive archive,
                                     ShareStagingProgress progress, SkipObserver skipped)
    : stagingDirectory_(std::move(stagingDirectory)),
      maxItems_(maxItems),
      source_(std::move(source)),
      archive_(std::move(archive)),
      progress_(std::move(progress)),
      skipped_(std::move(skipped)) {}

RawSharePayload ShareTargetLoader::load(
    const std::vector<std::shared_ptr<ShareItemProvider>>& providers) const {
  return Pass(*this).run(providers);
}

std::optional<std::int64_t> ShareTargetLoader::videoDurationMs(const fs::path& file) {
  return Thumbnailer::videoDurationMs(file);
}

}  // namespace lumo
