#!/usr/bin/env bash
# Publishes a 100 MiB and a 1 GiB file as signed-in documents to the loopback test server, once
# with the publishing client (lumo_publish_file) and once with `curl -F metadata=… -F file=@…` to
# the same endpoint, and prints, in one run:
#   - for each size, the wall-time ratio client / curl (hyperfine medians; target <= 1.05);
#   - the client's peak resident memory beyond its start-up cost (the peak of publishing a 1-byte
#     file), for each size (target <= 16 MiB whatever the size: the body streams from disk).
# Run after `cmake --preset release && cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/release"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-publish-bench-XXXXXX")
cleanup() {
  exec 9>&- 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c 104857600 /dev/urandom > "$work/100MiB.bin"
head -c 1073741824 /dev/urandom > "$work/1GiB.bin"
printf x > "$work/tiny.bin"
reply='{"success":true,"result":{"doc":{"uid":"u","id":"d","slug":"bench","filename":"large.bin","r2_key":"k","content_type":"application/octet-stream","size":1,"ctime":1700000000,"mtime":1700000000,"exp_days":7,"max_downloads":0,"download_count":0,"disable_download":false,"burn_after_reading":false,"view_count":0}}}'
mkfifo "$work/server-input"
"$build/tests/support/lumo-test-server" --reply "$reply" < "$work/server-input" > "$work/port" 2> /dev/null &
exec 9> "$work/server-input"  # the server runs until this closes
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
base="http://127.0.0.1:$(cat "$work/port")/api/v1"

compare() {  # size-name runs: hyperfine of the client against curl for one file
  hyperfine --style basic --warmup 2 --runs "$2" --export-json "$work/times-$1.json" \
    -n client "'$build/bench/lumo_publish_file' '$base' '$work/$1.bin'" \
    -n curl "curl -sS -o /dev/null -H 'Authorization: Bearer bench-token' -F 'metadata={\"exp_days\":7}' -F 'file=@$work/$1.bin' '$base/docs'" \
    > /dev/null
}
compare 100MiB 15
compare 1GiB 5

peak() {  # peak resident KiB of one run of the client
  /usr/bin/time -f '%M' -o "$work/rss" "$build/bench/lumo_publish_file" "$base" "$1" > /dev/null
  cat "$work/rss"
}
tiny=$(peak "$work/tiny.bin")
medium=$(peak "$work/100MiB.bin")
large=$(peak "$work/1GiB.bin")

python3 - "$work" "$tiny" "$medium" "$large" <<'PY'
import json, sys
work, tiny, medium, large = sys.argv[1], *map(int, sys.argv[2:5])
for name, runs in (("100MiB", 15), ("1GiB", 5)):
    times = {r["command"]: r["median"] for r in json.load(open(f"{work}/times-{name}.json"))["results"]}
    print(f"{name}: client {times['client']:.3f} s, curl {times['curl']:.3f} s (medians of {runs}); "
          f"ratio client/curl: {times['client'] / times['curl']:.2f}  (target <= 1.05)")
print(f"client peak RSS: {tiny / 1024:.1f} MiB for 1 byte, {medium / 1024:.1f} MiB for 100 MiB, "
      f"{large / 1024:.1f} MiB for 1 GiB")
print(f"memory beyond start-up: {(medium - tiny) / 1024:.1f} MiB for 100 MiB, "
      f"{(large - tiny) / 1024:.1f} MiB for 1 GiB  (target <= 16 MiB)")
PY
