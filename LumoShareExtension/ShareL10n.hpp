#pragma once
// The product's texts in the reader's language. The Chinese text is the message id and the
// fallback; catalogues ("lumo-share.mo", GNU gettext) translate it. Placeholders are filled after
// the lookup: "%@" with a text, "%d" with a whole number.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace lumo::ShareL10n {

inline constexpr const char* textDomain = "lumo-share";

/// Marks `chinese` for the catalogue where it is kept as data and looked up later with `tr`.
constexpr const char* marked(const char* chinese) {
  return chinese;
}

/// A text with a count in it ("%d 小时后过期"), kept as data for `trn`. Chinese has one form for
/// every count, so the text is both the singular and the plural message id; the catalogue holds
/// a form per plural class of the reader's language ("Expires in 1 hour", "… in 2 hours").
struct Plural {
  const char* chinese;
};
/// Marks a text with a count for the catalogue, as `marked` does for one without.
constexpr Plural markedPlural(const char* chinese) {
  return {chinese};
}

/// `chinese` in the language of LC_MESSAGES; itself when no catalogue has it. The catalogues are
/// looked for in "share/locale" beside the program's folder (the build tree and any install
/// prefix alike), else in the configured install folder.
std::string tr(const char* chinese);
/// The same, with its "%@" replaced by `text`.
std::string tr(const char* chinese, std::string_view text);
/// The same, with its "%@" placeholders replaced by `texts`, one after another. A text that
/// itself holds "%@" (a file name) is never taken for a placeholder.
std::string tr(const char* chinese, std::initializer_list<std::string_view> texts);
/// The same, with its "%d" replaced by `number`.
std::string tr(const char* chinese, std::int64_t number);

/// The form of `chinese` that suits `count` in the reader's language, with its "%d" replaced by
/// `count`.
std::string trn(const char* chinese, std::int64_t count);
std::string trn(Plural text, std::int64_t count);

}  // namespace lumo::ShareL10n
