#!/usr/bin/env bash
# Publishes a 100 MiB file as a signed-in document to the loopback test server, once with the
# publishing client (lumo_publish_file) and once with `curl -F metadata=… -F file=@…` to the same
# endpoint, and prints, in one run:
#   - the wall-time ratio, client / curl (medians of 15 with hyperfine; target <= 1.2);
#   - the client's peak resident memory beyond its start-up cost, as a multiple of the file size
#     (start-up cost = the peak of publishing a 1-byte file; target <= 1.3).
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

size=104857600
head -c "$size" /dev/urandom > "$work/large.bin"
printf x > "$work/tiny.bin"
reply='{"success":true,"result":{"doc":{"uid":"u","id":"d","slug":"bench","filename":"large.bin","r2_key":"k","content_type":"application/octet-stream","size":1,"ctime":1700000000,"mtime":1700000000,"exp_days":7,"max_downloads":0,"download_count":0,"disable_download":false,"burn_after_reading":false,"view_count":0}}}'
mkfifo "$work/server-input"
"$build/tests/support/lumo-test-server" --reply "$reply" < "$work/server-input" > "$work/port" 2> /dev/null &
exec 9> "$work/server-input"  # the server runs until this closes
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
base="http://127.0.0.1:$(cat "$work/port")/api/v1"

hyperfine --style basic --warmup 2 --runs 15 --export-json "$work/times.json" \
  -n client "'$build/bench/lumo_publish_file' '$base' '$work/large.bin'" \
  -n curl "curl -sS -o /dev/null -H 'Authorization: Bearer bench-token' -F 'metadata={\"exp_days\":7}' -F 'file=@$work/large.bin' '$base/docs'" \
  > /dev/null

peak() {  # peak resident KiB of one run of the client
  /usr/bin/time -f '%M' -o "$work/rss" "$build/bench/lumo_publish_file" "$base" "$1" > /dev/null
  cat "$work/rss"
}
large=$(peak "$work/large.bin")
tiny=$(peak "$work/tiny.bin")

python3 - "$work/times.json" "$large" "$tiny" "$size" <<'PY'
import json, sys
times = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
large, tiny, size = (int(v) for v in sys.argv[2:5])
print(f"client: {times['client']:.3f} s, curl: {times['curl']:.3f} s (medians of 15)")
print(f"wall-time ratio client/curl: {times['client'] / times['curl']:.2f}  (target <= 1.20)")
print(f"client peak RSS: {large / 1024:.1f} MiB for 100 MiB, {tiny / 1024:.1f} MiB for 1 byte")
print(f"memory beyond start-up / file size: {(large - tiny) * 1024 / size:.2f}  (target <= 1.30)")
PY
