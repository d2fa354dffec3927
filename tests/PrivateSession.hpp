#pragma once

#include <filesystem>

#include "TemporaryDirectory.hpp"

namespace lumo::testing {

/// Gives a test process a session of its own: a home with its own XDG data, configuration,
/// cache and state folders and a private runtime folder (0700), all under a fresh temporary
/// folder that goes with the object; and takes away every way to the caller's session: their
/// session bus, display, proxies, trust-store overrides and desktop hints. Tests then never read
/// or change the caller's files (queued shares, sign-in, settings) and behave the same on any
/// machine. Create it first thing in `main`, before any thread starts or anything reads the
/// environment.
///
/// The session bus and the display are kept only when LUMO_TEST_PRIVATE_SESSION says that they
/// were started for this run (tests/with-private-session.sh: dbus-run-session, Xvfb).
class PrivateSession {
 public:
  PrivateSession();

  const std::filesystem::path& home() const { return home_; }

 private:
  TemporaryDirectory folder_;
  std::filesystem::path home_;
};

}  // namespace lumo::testing
