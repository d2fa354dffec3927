#pragma once

#include <optional>
#include <string>

namespace lumo {

/// The host application ("Lumo Share App") as the desktop knows it: the desktop entry named after
/// its bundle identifier ("lumo.share" → "lumo.share.desktop") in the XDG application folders
/// ($XDG_DATA_HOME, then $XDG_DATA_DIRS), read and started by GIO.
namespace ShareHostApp {

/// The file of the application's desktop entry; nothing when no usable entry has that name (a
/// hidden entry, one whose TryExec is missing, an identifier that names no file).
std::optional<std::string> applicationURL(const std::string& bundleIdentifier);

/// Starts the application (without files); the reason in the system's words when it could not be.
std::optional<std::string> open(const std::string& bundleIdentifier);

}  // namespace ShareHostApp
}  // namespace lumo
