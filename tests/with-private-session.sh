#!/usr/bin/env bash
# Runs a test command with nothing of the caller's session: a temporary home with its own XDG
# data, configuration, cache, state and runtime folders; no proxy, display or desktop hints of the
# caller; and a D-Bus session bus of its own (dbus-run-session) that ends with the command, so
# that Qt, GIO and the Secret Service talk to this run's bus alone and the run neither depends on
# nor changes what the caller's session offers.
# With --display, the command also gets an X server of its own (Xvfb, 1280x1024, 24 bits, a
# private cookie) on a display number that the server picks itself, so that runs side by side
# never take the same one.
# Usage: with-private-session.sh [--display] COMMAND [ARGUMENT...]
set -euo pipefail

display=no
if [ "${1:-}" = "--display" ]; then
  display=yes
  shift
fi

base=$(mktemp -d "${TMPDIR:-/tmp}/lumo-session-XXXXXX")
xserver=
cleanup() {
  if [ -n "$xserver" ]; then kill "$xserver" 2>/dev/null || true; fi
  rm -rf "$base"
}
trap cleanup EXIT

export HOME="$base/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" \
  XDG_CACHE_HOME="$HOME/.cache" XDG_STATE_HOME="$HOME/.local/state" XDG_RUNTIME_DIR="$base/runtime"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY XAUTHORITY XDG_DATA_DIRS XDG_CONFIG_DIRS \
  XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP XDG_SESSION_TYPE DESKTOP_SESSION \
  QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE \
  http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY \
  NO_PROXY SSL_CERT_FILE SSL_CERT_DIR CURL_CA_BUNDLE

if [ "$display" = yes ]; then
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  # The server takes every cookie in its file, whatever display the entry names.
  : >"$base/server-auth"
  xauth -q -f "$base/server-auth" add :0 . "$cookie"
  # -displayfd: the server writes the display number it took once it accepts connections.
  exec {numberfd}< <(exec Xvfb -displayfd 1 -auth "$base/server-auth" -nolisten tcp \
    -screen 0 1280x1024x24 2>"$base/xvfb.log")
  xserver=$!
  if ! read -r number <&"$numberfd"; then
    cat "$base/xvfb.log" >&2
    echo "with-private-session: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$number" XAUTHORITY="$base/auth"
  : >"$XAUTHORITY"
  xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie"
fi

# Test programs keep the bus and the display only when this says they are the run's own
# (PrivateSession).
export LUMO_TEST_PRIVATE_SESSION=1
status=0
dbus-run-session -- "$@" || status=$?
exit "$status"
