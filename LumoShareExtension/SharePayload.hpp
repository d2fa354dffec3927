#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ChatPayload.hpp"
#include "ShareJSONCoding.hpp"
#include "ShareSource.hpp"
#include "ShareStringMap.hpp"

namespace lumo {

/// The content of a share as published: text, link and chat parts with a few descriptive
/// fields. Attachments travel beside it in StagedShare.
struct SharePayload {
  std::optional<std::string> clientShareId;
  std::optional<std::int64_t> createdAt;
  std::optional<ShareSource> source;
  std::string kind;                  ///< one of ShareKindValues
  std::optional<std::string> title;  ///< derived title, at most 200 characters
  std::optional<std::string> text;   ///< normalised text, at most 16384 UTF-8 bytes
  std::optional<std::string> url;    ///< the shared link as an absolute URL string
  std::optional<ChatPayload> chat;
  std::optional<ShareStringMap> meta;  ///< "capture", "platform", "client"

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("clientShareId", self.clientShareId),
                      JSONKey("createdAt", self.createdAt), JSONKey("source", self.source),
                      JSONKey("kind", self.kind), JSONKey("title", self.title),
                      JSONKey("text", self.text), JSONKey("url", self.url),
                      JSONKey("chat", self.chat), JSONKey("meta", self.meta));
  }
  bool operator==(const SharePayload&) const = default;
};

}  // namespace lumo
