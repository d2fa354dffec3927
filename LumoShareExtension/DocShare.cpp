#include "DocShare.hpp"

namespace lumo {

DocMetadata DocMetadata::decode(const JSONObjectReader& reader) {
  return DocMetadata{reader.optional<std::string>("slug"),
                     reader.optional<std::int64_t>("exp_days"),
                     reader.optional<std::string>("password"),
                     reader.optional<std::int64_t>("max_downloads"),
                     reader.optional<bool>("disable_download"),
                     reader.optional<bool>("burn_after_reading"),
                     reader.optional<WatermarkSettings>("watermark"),
                     reader.optional<std::vector<std::string>>("allowed_emails"),
                     reader.optional<std::string>("comment")};
}

JSONValue DocMetadata::encode() const {
  return JSONObjectWriter()
      .setOptional("slug", slug)
      .setOptional("exp_days", expDays)
      .setOptional("password", password)
      .setOptional("max_downloads", maxDownloads)
      .setOptional("disable_download", disableDownload)
      .setOptional("burn_after_reading", burnAfterReading)
      .setOptional("watermark", watermark)
      .setOptional("allowed_emails", allowedEmails)
      .setOptional("comment", comment)
      .take();
}

DocShare DocShare::decode(const JSONObjectReader& reader) {
  return DocShare{reader.required<std::string>("uid"),
                  reader.required<std::string>("id"),
                  reader.required<std::string>("slug"),
                  reader.required<std::string>("filename"),
                  reader.required<std::string>("r2_key"),
                  reader.required<std::string>("content_type"),
                  reader.required<std::int64_t>("size"),
                  reader.optional<std::string>("comment"),
                  reader.required<std::int64_t>("ctime"),
                  reader.required<std::int64_t>("mtime"),
                  reader.required<std::int64_t>("exp_days"),
                  reader.optional<std::string>("password"),
                  reader.required<std::int64_t>("max_downloads"),
                  reader.required<std::int64_t>("download_count"),
                  reader.required<bool>("disable_download"),
                  reader.required<bool>("burn_after_reading"),
                  reader.optional<WatermarkSettings>("watermark"),
                  reader.optional<std::vector<std::string>>("allowed_emails"),
                  reader.required<std::int64_t>("view_count")};
}

JSONValue DocShare::encode() const {
  return JSONObjectWriter()
      .set("uid", uid)
      .set("id", id)
      .set("slug", slug)
      .set("filename", filename)
      .set("r2_key", r2_key)
      .set("content_type", content_type)
      .set("size", size)
      .setOptional("comment", comment)
      .set("ctime", ctime)
      .set("mtime", mtime)
      .set("exp_days", exp_days)
      .setOptional("password", password)
      .set("max_downloads", max_downloads)
      .set("download_count", download_count)
      .set("disable_download", disable_download)
      .set("burn_after_reading", burn_after_reading)
      .setOptional("watermark", watermark)
      .setOptional("allowed_emails", allowed_emails)
      .set("view_count", view_count)
      .take();
}

DocCreateResult DocCreateResult::decode(const JSONObjectReader& reader) {
  return DocCreateResult{reader.required<DocShare>("doc")};
}

JSONValue DocCreateResult::encode() const {
  return JSONObjectWriter().set("doc", doc).take();
}

DocCreateResponse DocCreateResponse::decode(const JSONObjectReader& reader) {
  return DocCreateResponse{reader.required<bool>("success"),
                           reader.required<DocCreateResult>("result")};
}

JSONValue DocCreateResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

AnonDocCreateResult AnonDocCreateResult::decode(const JSONObjectReader& reader) {
  return AnonDocCreateResult{reader.required<DocShare>("doc"),
                             reader.required<std::string>("claim_token")};
}

JSONValue AnonDocCreateResult::encode() const {
  return JSONObjectWriter().set("doc", doc).set("claim_token", claim_token).take();
}

AnonDocCreateResponse AnonDocCreateResponse::decode(const JSONObjectReader& reader) {
  return AnonDocCreateResponse{reader.required<bool>("success"),
                               reader.required<AnonDocCreateResult>("result")};
}

JSONValue AnonDocCreateResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

}  // namespace lumo
