// Feeds arbitrary bytes to the text intake: chat parser, link detection, file names, byte cuts
// and the payload factory. Besides crashes and sanitizer reports it checks the promises callers
// rely on: byte budgets hold, file names stay one safe path component, outputs are well-formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "LumoShare.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void checkTruncate(std::string_view text, std::int64_t budget) {
  const auto cut = lumo::ShareText::truncateUTF8(text, budget, budget % 2 == 0);
  require(lumo::UnicodeText::wellFormed(cut.text) == cut.text || !cut.truncated);
  if (cut.truncated && budget >= 4) require(cut.text.size() <= static_cast<std::size_t>(budget));
}

void checkFileName(std::string_view text) {
  const auto name = lumo::ShareText::safeFileName(text, "bin");
  require(!name.empty() && name != "." && name != "..");
  require(name.find('/') == std::string::npos && name.find('\0') == std::string::npos);
  require(lumo::UnicodeText::wellFormed(name) == name);
}

void checkPayload(std::string_view text) {
  const auto url = lumo::ShareText::singleURL(text);
  if (url) {
    const auto scheme = lumo::UnicodeText::lowercased(url->scheme());
    require((scheme == "http" || scheme == "https") && url->host().has_value());
  }
  const auto payload = lumo::SharePayloadFactory::makePayload(
      "id", 0, lumo::ShareSource{"linux", {}, "com.tencent.xin", {}, {}}, std::string(text), url,
      {}, "share-sheet");
  if (payload.text) require(payload.text->size() <= 16384);
  if (payload.chat)
    require(payload.chat->messages.size() >= 2 && payload.chat->messages.size() <= 200);
  const auto json = lumo::ShareJSON::encoder().encode(payload);
  require(lumo::ShareJSON::decoder().decode<lumo::SharePayload>(json).kind == payload.kind);
  (void)lumo::SharePayloadFactory::markdown(payload, std::string(text.substr(0, 16)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::int64_t budget = size > 0 ? static_cast<std::int64_t>(data[0] % 24) - 2 : 0;
  checkTruncate(text, budget);
  checkFileName(text);
  checkPayload(text);
  (void)lumo::ChatTranscriptParser::parse(text, std::nullopt);
  return 0;
}
