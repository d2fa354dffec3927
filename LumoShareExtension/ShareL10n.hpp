#pragma once
// The product's texts in the reader's language. The Chinese text is the message id and the
// fallback; catalogues ("lumo-share.mo", GNU gettext) translate it. Placeholders are filled after
// the lookup: "%@" with a text, "%d" with a whole number.
#include <cstdint>
#include <string>
#include <string_view>

namespace lumo::ShareL10n {

inline constexpr const char* textDomain = "lumo-share";

/// Marks `chinese` for the catalogue where it is kept as data and looked up later with `tr`.
constexpr const char* marked(const char* chinese) {
  return chinese;
}

/// `chinese` in the language of LC_MESSAGES; itself when no catalogue has it. The catalogues are
/// looked for in "share/locale" beside the program's folder (the build tree and any install
/// prefix alike), else in the configured install folder.
std::string tr(const char* chinese);
/// The same, with its "%@" replaced by `text`.
std::string tr(const char* chinese, std::string_view text);
/// The same, with its "%d" replaced by `number`.
std::string tr(const char* chinese, std::int64_t number);

}  // namespace lumo::ShareL10n
