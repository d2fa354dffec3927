#include "ShareHostApp.hpp"

#include <gio/gdesktopappinfo.h>

#include <memory>

namespace lumo::ShareHostApp {
namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using DesktopAppInfo = std::unique_ptr<GDesktopAppInfo, ObjectUnref>;

DesktopAppInfo lookUp(const std::string& bundleIdentifier) {
  // A desktop id is a file name; anything with a path in it could reach any file.
  if (bundleIdentifier.empty() || bundleIdentifier.find('/') != std::string::npos ||
      bundleIdentifier.find('\0') != std::string::npos) {
    return nullptr;
  }
  return DesktopAppInfo(g_desktop_app_info_new((bundleIdentifier + ".desktop").c_str()));
}

}  // namespace

std::optional<std::string> applicationURL(const std::string& bundleIdentifier) {
  const auto info = lookUp(bundleIdentifier);
  if (!info) return std::nullopt;
  const char* file = g_desktop_app_info_get_filename(info.get());
  return file ? std::optional<std::string>(file) : std::nullopt;
}

std::optional<std::string> open(const std::string& bundleIdentifier) {
  const auto info = lookUp(bundleIdentifier);
  if (!info) return "no desktop entry " + bundleIdentifier + ".desktop";
  GError* error = nullptr;
  if (g_app_info_launch(G_APP_INFO(info.get()), nullptr, nullptr, &error)) return std::nullopt;
  std::string reason = error ? error->message : "cannot start " + bundleIdentifier;
  g_clear_error(&error);
  return reason;
}

}  // namespace lumo::ShareHostApp
