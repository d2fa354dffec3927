#!/usr/bin/env bash
# The exit statuses that the manual pages promise where a program cannot start its work: a usage
# error of the service is 2 (not CLI11's own codes), and a desktop program with no display to
# open says so in one line and exits 2 (not an abort with Qt's advice to reinstall).
# Usage: exit-statuses.sh LUMO_SHARE_SERVER [LUMO_SHARE_PANEL LUMO_SHARE_APP]
set -uo pipefail
server=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-exit-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# expect STATUS PATTERN COMMAND...: the status, and PATTERN (grep -E) in the standard error.
expect() {
  local wanted=$1 pattern=$2 status
  shift 2
  "$@" >/dev/null 2>"$work/errors"
  status=$?
  if [ "$status" != "$wanted" ] || ! grep -qE -- "$pattern" "$work/errors"; then
    echo "FAIL: $* exited $status (wanted $wanted); standard error:"
    cat "$work/errors"
    failures=$((failures + 1))
  fi
}

expect 2 "" "$server"
expect 2 "--no-such-option" "$server" serve --no-such-option --data "$work/data"
expect 2 "go together" "$server" serve --tls-cert "$0" --data "$work/data"
expect 2 "" "$server" token
for program in "$@"; do
  expect 2 "^$(basename "$program"): Cannot open a display" env -u DISPLAY -u WAYLAND_DISPLAY \
    -u QT_QPA_PLATFORM HOME="$work" XDG_RUNTIME_DIR="$work" LANG=en_US.UTF-8 LANGUAGE= \
    LC_ALL= "$program"
done
[ "$failures" -eq 0 ] && echo "usage errors and a missing display end with status 2"
exit $((failures > 0))
