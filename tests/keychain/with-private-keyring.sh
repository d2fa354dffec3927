#!/usr/bin/env bash
# Runs a command in a session of its own (with-private-session.sh: temporary home, private D-Bus
# session) with a GNOME Keyring of its own, unlocked with a throwaway password: tests that need a
# Secret Service never see, prompt for or change the keyring of the person running them, and need
# no desktop session.
set -euo pipefail
export LUMO_PRIVATE_KEYRING=1
exec "$(dirname "$0")/../with-private-session.sh" sh -c '
  printf "lumo-test-keyring" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec "$@"' keyring "$@"
