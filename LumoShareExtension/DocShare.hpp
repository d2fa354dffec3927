#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ShareEnvelope.hpp"
#include "ShareJSONCoding.hpp"
#include "WatermarkSettings.hpp"

namespace lumo {

/// The "metadata" form field of a document upload: every field optional, absent ones left out
/// of the JSON, keys in the service's snake case.
struct DocMetadata {
  std::optional<std::string> slug;
  std::optional<std::int64_t> expDays;
  std::optional<std::string> password;
  std::optional<std::int64_t> maxDownloads;
  std::optional<bool> disableDownload;
  std::optional<bool> burnAfterReading;
  std::optional<WatermarkSettings> watermark;
  std::optional<std::vector<std::string>> allowedEmails;
  std::optional<std::string> comment;

  static auto jsonKeys(auto& self) {
    return std::tuple(
        JSONKey("slug", self.slug), JSONKey("exp_days", self.expDays),
        JSONKey("password", self.password), JSONKey("max_downloads", self.maxDownloads),
        JSONKey("disable_download", self.disableDownload),
        JSONKey("burn_after_reading", self.burnAfterReading), JSONKey("watermark", self.watermark),
        JSONKey("allowed_emails", self.allowedEmails), JSONKey("comment", self.comment));
  }
  bool operator==(const DocMetadata&) const = default;
};

/// A stored document as the service describes it. Times are Unix seconds.
struct DocShare {
  std::string uid;
  std::string id;
  std::string slug;
  std::string filename;
  std::string r2_key;
  std::string content_type;
  std::int64_t size = 0;
  std::optional<std::string> comment;
  std::int64_t ctime = 0;
  std::int64_t mtime = 0;
  std::int64_t exp_days = 0;
  std::optional<std::string> password;
  std::int64_t max_downloads = 0;
  std::int64_t download_count = 0;
  bool disable_download = false;
  bool burn_after_reading = false;
  std::optional<WatermarkSettings> watermark;
  std::optional<std::vector<std::string>> allowed_emails;
  std::int64_t view_count = 0;

  static auto jsonKeys(auto& self) {
    return std::tuple(
        JSONKey("uid", self.uid), JSONKey("id", self.id), JSONKey("slug", self.slug),
        JSONKey("filename", self.filename), JSONKey("r2_key", self.r2_key),
        JSONKey("content_type", self.content_type), JSONKey("size", self.size),
        JSONKey("comment", self.comment), JSONKey("ctime", self.ctime),
        JSONKey("mtime", self.mtime), JSONKey("exp_days", self.exp_days),
        JSONKey("password", self.password), JSONKey("max_downloads", self.max_downloads),
        JSONKey("download_count", self.download_count),
        JSONKey("disable_download", self.disable_download),
        JSONKey("burn_after_reading", self.burn_after_reading),
        JSONKey("watermark", self.watermark), JSONKey("allowed_emails", self.allowed_emails),
        JSONKey("view_count", self.view_count));
  }
  bool operator==(const DocShare&) const = default;
};

struct DocCreateResult {
  DocShare doc;

  static auto jsonKeys(auto& self) { return std::tuple{JSONKey{"doc", self.doc}}; }
  bool operator==(const DocCreateResult&) const = default;
};

/// The reply to a signed-in document upload.
using DocCreateResponse = ShareEnvelope<DocCreateResult>;

struct AnonDocCreateResult {
  DocShare doc;
  std::string claim_token;

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("doc", self.doc), JSONKey("claim_token", self.claim_token));
  }
  bool operator==(const AnonDocCreateResult&) const = default;
};

/// The reply to an anonymous document upload, with the claim token that binds it later.
using AnonDocCreateResponse = ShareEnvelope<AnonDocCreateResult>;

}  // namespace lumo
