#include "PrivateSession.hpp"

#include <stdlib.h>

namespace lumo::testing {
namespace {

namespace fs = std::filesystem;

/// The session's services: the caller's, unless with-private-session.sh started them for this run.
constexpr const char* sessionServices[] = {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "XAUTHORITY"};

/// What would lead a test to the caller's desktop or network set-up.
constexpr const char* callersSettings[] = {
    "WAYLAND_DISPLAY",
    // the system folders as the freedesktop defaults have them, not as a session extends them
    "XDG_DATA_DIRS", "XDG_CONFIG_DIRS",
    // desktop hints that make toolkits load the desktop's themes and services
    "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "XDG_SESSION_TYPE", "DESKTOP_SESSION",
    "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE",
    // proxies and trust stores: loopback tests talk to loopback, with the system's trust
    "http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
    "FTP_PROXY", "ALL_PROXY", "NO_PROXY", "SSL_CERT_FILE", "SSL_CERT_DIR", "CURL_CA_BUNDLE"};

void setFolder(const char* name, const fs::path& folder) {
  fs::create_directories(folder);
  ::setenv(name, folder.c_str(), 1);
}

}  // namespace

PrivateSession::PrivateSession() : home_(folder_ / "home") {
  setFolder("HOME", home_);
  setFolder("XDG_DATA_HOME", home_ / ".local/share");
  setFolder("XDG_CONFIG_HOME", home_ / ".config");
  setFolder("XDG_CACHE_HOME", home_ / ".cache");
  setFolder("XDG_STATE_HOME", home_ / ".local/state");
  const auto runtime = folder_ / "runtime";
  setFolder("XDG_RUNTIME_DIR", runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  for (const auto* name : callersSettings) ::unsetenv(name);
  const char* ownSession = ::getenv("LUMO_TEST_PRIVATE_SESSION");  // this run's bus and display
  if (ownSession == nullptr || *ownSession == '\0') {
    for (const auto* name : sessionServices) ::unsetenv(name);
  }
}

}  // namespace lumo::testing
