#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes to the loopback test server, once with the library's
# transport (lumo_upload_file) and once with `curl -T`, three rounds each, and prints the best
# wall time, throughput and peak resident memory of both, and the throughput ratio.
# Run after `cmake --preset release && cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/release"
work=$(mktemp -d /tmp/lumo-upload-bench-XXXXXX)
cleanup() {
  exec 9>&- 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c 1073741824 /dev/urandom > "$work/large.bin"
mkfifo "$work/server-input"
"$build/tests/support/lumo-test-server" < "$work/server-input" > "$work/port" 2> "$work/server.log" &
exec 9> "$work/server-input"  # the server runs until this closes
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
url="http://127.0.0.1:$(cat "$work/port")/api/v1/docs"

measure() {  # prints "seconds peak-KiB" of the best of three runs
  local best=""
  for _ in 1 2 3; do
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null
    if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $(cut -d' ' -f1 "$work/time") < ${best%% *} else 1)"; then
      best=$(cat "$work/time")
    fi
  done
  echo "$best"
}

ours=$(measure "$build/bench/lumo_upload_file" "$url" "$work/large.bin")
theirs=$(measure curl --silent --fail --output /dev/null -X POST \
  -H 'Content-Type: application/octet-stream' -T "$work/large.bin" "$url")

exec 9>&-
wait
received=$(grep -c ' 1073741824 bytes' "$work/server.log" || true)
if [ "$received" -ne 6 ]; then
  echo "the server received $received of 6 whole uploads" >&2
  exit 1
fi

python3 - "$ours" "$theirs" <<'PY'
import sys
(ours_s, ours_kib), (curl_s, curl_kib) = (map(float, a.split()) for a in sys.argv[1:3])
gib = 1.0
print(f"lumo transport: {ours_s:.2f} s, {gib / ours_s * 1024:.0f} MiB/s, peak {ours_kib / 1024:.1f} MiB")
print(f"curl -T:        {curl_s:.2f} s, {gib / curl_s * 1024:.0f} MiB/s, peak {curl_kib / 1024:.1f} MiB")
print(f"throughput ratio (lumo / curl): {curl_s / ours_s:.2f}")
PY
