#!/usr/bin/env bash
# Stages a 1 GiB file with `lumo-share stage` (copy into the queue + SHA-256) and compares it with
# `cp` followed by `openssl dgst -sha256` of the same file. One run each; prints both times and
# the ratio. Run after `cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
tool="$PWD/build/release/cli/lumo-share"
work=$(mktemp -d /tmp/lumo-stage-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c 1073741824 /dev/urandom > "$work/large.bin"
sync

start=$(date +%s.%N)
XDG_DATA_HOME="$work/data" "$tool" stage "$work/large.bin" > /dev/null
staged=$(echo "$(date +%s.%N) - $start" | bc)

start=$(date +%s.%N)
cp "$work/large.bin" "$work/copy.bin"
openssl dgst -sha256 "$work/copy.bin" > /dev/null
baseline=$(echo "$(date +%s.%N) - $start" | bc)

printf 'lumo-share stage: %.2f s\ncp + openssl dgst: %.2f s\nratio: %.2f\n' \
  "$staged" "$baseline" "$(echo "$staged / $baseline" | bc -l)"
