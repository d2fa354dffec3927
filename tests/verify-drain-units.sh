#!/usr/bin/env bash
# The background drain's unit files as systemd reads them: `systemd-analyze verify` must have
# nothing to say (it only warns about unknown keys and bad values, so any output fails).
# Usage: verify-drain-units.sh SERVICE TIMER LUMO_SHARE
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# ExecStart must name a program that exists: the build's own tool stands in for the installed one.
sed "s|^ExecStart=[^ ]*|ExecStart=$3|" "$1" > "$dir/lumo-share-drain.service"
cp "$2" "$dir/lumo-share-drain.timer"
output=$(systemd-analyze verify --man=no "$dir/lumo-share-drain.service" "$dir/lumo-share-drain.timer" 2>&1)
if [ -n "$output" ]; then
  echo "$output" >&2
  exit 1
fi
echo "the drain's unit files verify"
