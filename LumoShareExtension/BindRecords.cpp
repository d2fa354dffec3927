#include "BindRecords.hpp"

namespace lumo {

BindItem BindItem::decode(const JSONObjectReader& reader) {
  return BindItem{reader.required<std::string>("kind"), reader.required<std::string>("slug"),
                  reader.required<std::string>("claim_token")};
}

JSONValue BindItem::encode() const {
  return JSONObjectWriter()
      .set("kind", kind)
      .set("slug", slug)
      .set("claim_token", claim_token)
      .take();
}

BindRequest BindRequest::decode(const JSONObjectReader& reader) {
  return BindRequest{reader.required<std::vector<BindItem>>("items")};
}

JSONValue BindRequest::encode() const {
  return JSONObjectWriter().set("items", items).take();
}

BoundItem BoundItem::decode(const JSONObjectReader& reader) {
  return BoundItem{reader.required<std::string>("kind"), reader.required<std::string>("slug"),
                   reader.required<std::string>("short_url")};
}

JSONValue BoundItem::encode() const {
  return JSONObjectWriter().set("kind", kind).set("slug", slug).set("short_url", short_url).take();
}

FailedItem FailedItem::decode(const JSONObjectReader& reader) {
  return FailedItem{reader.required<std::string>("kind"), reader.required<std::string>("slug"),
                    reader.required<std::string>("error")};
}

JSONValue FailedItem::encode() const {
  return JSONObjectWriter().set("kind", kind).set("slug", slug).set("error", error).take();
}

BindResult BindResult::decode(const JSONObjectReader& reader) {
  return BindResult{reader.required<std::vector<BoundItem>>("bound"),
                    reader.required<std::vector<FailedItem>>("failed")};
}

JSONValue BindResult::encode() const {
  return JSONObjectWriter().set("bound", bound).set("failed", failed).take();
}

BindResponse BindResponse::decode(const JSONObjectReader& reader) {
  return BindResponse{reader.required<bool>("success"), reader.required<BindResult>("result")};
}

JSONValue BindResponse::encode() const {
  return JSONObjectWriter().set("success", success).set("result", result).take();
}

}  // namespace lumo
