#include "ShareL10n.hpp"

#include <libintl.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

namespace lumo::ShareL10n {
namespace {

namespace fs = std::filesystem;

fs::path catalogueFolder() {
  std::error_code error;
  const auto program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const auto beside = program.parent_path().parent_path() / "share" / "locale";
    if (fs::is_directory(beside, error)) return beside;
  }
  return LUMO_INSTALL_LOCALEDIR;
}

void bindCatalogue() {
  static std::once_flag bound;
  std::call_once(bound, [] {
    bindtextdomain(textDomain, catalogueFolder().c_str());
    bind_textdomain_codeset(textDomain, "UTF-8");
  });
}

/// `text` with its placeholders replaced by `values` in order; the search goes on after each
/// inserted value, so a value is never searched itself.
std::string replacing(std::string text, std::string_view placeholder,
                      std::initializer_list<std::string_view> values) {
  std::size_t from = 0;
  for (const auto value : values) {
    const auto at = text.find(placeholder, from);
    if (at == std::string::npos) break;
    text.replace(at, placeholder.size(), value);
    from = at + value.size();
  }
  return text;
}

}  // namespace

std::string tr(const char* chinese) {
  if (chinese[0] == '\0') return {};  // the empty id is the catalogue's header
  bindCatalogue();
  return dgettext(textDomain, chinese);
}

std::string tr(const char* chinese, std::string_view text) {
  return replacing(tr(chinese), "%@", {text});
}

std::string tr(const char* chinese, std::initializer_list<std::string_view> texts) {
  return replacing(tr(chinese), "%@", texts);
}

std::string tr(const char* chinese, std::int64_t number) {
  return replacing(tr(chinese), "%d", {std::to_string(number)});
}

std::string trn(const char* chinese, std::int64_t count) {
  bindCatalogue();
  // gettext picks the form by an unsigned long; a negative count takes the plural form.
  const auto selector = count < 0 ? 2UL : static_cast<unsigned long>(count);
  return replacing(dngettext(textDomain, chinese, chinese, selector), "%d",
                   {std::to_string(count)});
}

std::string trn(Plural text, std::int64_t count) {
  return trn(text.chinese, count);
}

}  // namespace lumo::ShareL10n
