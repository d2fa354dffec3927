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

std::string replacingFirst(std::string text, std::string_view placeholder, std::string_view value) {
  if (const auto at = text.find(placeholder); at != std::string::npos) {
    text.replace(at, placeholder.size(), value);
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
  return replacingFirst(tr(chinese), "%@", text);
}

std::string tr(const char* chinese, std::int64_t number) {
  return replacingFirst(tr(chinese), "%d", std::to_string(number));
}

}  // namespace lumo::ShareL10n
