#!/usr/bin/env bash
# Runs a command inside a D-Bus session of its own with a GNOME Keyring of its own, unlocked with
# a throwaway password, in a temporary home: tests that need a Secret Service never see, prompt for
# or change the keyring of the person running them, and need no desktop session.
set -euo pipefail
home=$(mktemp -d /tmp/lumo-keyring-XXXXXX)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
  XDG_RUNTIME_DIR="$home/runtime" LUMO_PRIVATE_KEYRING=1
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
exec dbus-run-session -- sh -c '
  printf "lumo-test-keyring" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec "$@"' keyring "$@"
