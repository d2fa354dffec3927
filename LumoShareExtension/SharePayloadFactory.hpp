#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ChatPayload.hpp"
#include "SharePayload.hpp"
#include "ShareSource.hpp"
#include "StagedAttachment.hpp"
#include "StagedShare.hpp"
#include "Url.hpp"

namespace lumo {

/// Builds the payload of a share from its raw parts, and derives the texts shown for it and the
/// documents published from it. Pure functions; none fails.
namespace SharePayloadFactory {

inline constexpr char clientMetaValue[] = "apple-share-extension";

/// The payload: normalised text, recognised chat, kind, title and the "capture", "platform",
/// "client" annotations.
SharePayload makePayload(const std::string& clientShareId, std::int64_t createdAtMs,
                         const ShareSource& source, const std::optional<std::string>& text,
                         const std::optional<Url>& url,
                         const std::vector<StagedAttachment>& attachments,
                         const std::string& captureMethod);

/// Trimmed text cut to 16384 UTF-8 bytes with "…"; blank is absent.
std::optional<std::string> normalizeText(const std::optional<std::string>& text);

/// The chat transcript in `from`, attributed by the source application.
std::optional<ChatPayload> makeChat(const std::optional<std::string>& from,
                                    const ShareSource& source, const std::string& captureMethod);

/// The ShareKindValues word for the parts of a share.
std::string deriveKind(const std::optional<std::string>& text, const std::optional<Url>& url,
                       const std::vector<StagedAttachment>& attachments,
                       const std::optional<ChatPayload>& chat);

/// Title shown in lists: payload title, else first attachment's original name, else the kind.
std::string displayTitle(const StagedShare& staged);

/// Preview line shown under the title, or nothing.
std::optional<std::string> displayPreview(const StagedShare& staged);

/// The share as a Markdown document (title, text, link, chat, note), or nothing when empty.
std::optional<std::string> markdown(const SharePayload& payload,
                                    const std::optional<std::string>& note);

/// A chat as a Markdown section.
std::string chatMarkdown(const ChatPayload& chat);

/// "yyyyMMdd-HHmmss" in local time.
std::string timestamp(std::int64_t epochMs);

/// "lumo-share-<timestamp>.zip"
std::string zipFileName(std::int64_t createdAtMs);

/// "message-<timestamp>.md" or ".txt"
std::string messageFileName(std::int64_t createdAtMs, bool markdown);

}  // namespace SharePayloadFactory
}  // namespace lumo
