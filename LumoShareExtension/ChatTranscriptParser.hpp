#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ChatPayload.hpp"

namespace lumo {

/// A chat transcript recognised in shared text.
struct ParsedChat {
  std::string provider;  ///< a ChatProviderValues word
  std::optional<std::string> conversationName;
  std::string conversationType;
  std::string captureMethod;
  std::vector<ChatMessage> messages;  ///< 2 to 200, in text order
  std::optional<std::string> note;

  /// The transcript as a ChatPayload.
  ChatPayload payload() const&;
  ChatPayload payload() &&;

  bool operator==(const ParsedChat&) const = default;
};

/// Recognises chat transcripts copied out of messaging applications as plain text, line by
/// line, and attributes them to a provider by the source application's bundle identifier. It
/// reads only the text it is given.
class ChatTranscriptParser {
 public:
  static constexpr char note[] = "来自系统分享面板的文本，按行解析；未读取任何 App 私有聊天库。";

  /// The transcript in `text`, or nothing when it is not one (fewer than two messages).
  static std::optional<ParsedChat> parse(std::string_view text,
                                         const std::optional<std::string>& sourceAppBundleID);

  /// The chat provider word for a bundle identifier ("other" when unknown or absent).
  static std::string provider(const std::optional<std::string>& forBundleID);
};

}  // namespace lumo
