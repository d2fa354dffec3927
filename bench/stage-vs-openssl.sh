#!/usr/bin/env bash
# Stages a 1 GiB file with `lumo-share stage` (copy into the queue and SHA-256 of the copy) and
# compares it, whole process against whole process, with one `openssl dgst -sha256` pass over the
# same file: the least any staging can cost, since every byte must be hashed once. hyperfine runs
# each three times after a warm-up (so both read the file from the page cache) and the script
# prints both medians and their ratio. Target: at most 1.2.
# Run after `cmake --preset release && cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
tool="$PWD/build/release/cli/lumo-share"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-stage-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c 1073741824 /dev/urandom > "$work/large.bin"

hyperfine --style basic --warmup 1 --runs 3 --export-json "$work/times.json" \
  --prepare "rm -rf '$work/data'" \
  -n "lumo-share stage" "XDG_DATA_HOME='$work/data' '$tool' stage '$work/large.bin'" \
  -n "openssl dgst -sha256" "openssl dgst -sha256 '$work/large.bin'" > /dev/null

python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
stage, digest = results["lumo-share stage"], results["openssl dgst -sha256"]
print(f"lumo-share stage:     {stage:.2f} s (median of 3)")
print(f"openssl dgst -sha256: {digest:.2f} s (median of 3)")
print(f"ratio: {stage / digest:.2f}  (target <= 1.20)")
PY
