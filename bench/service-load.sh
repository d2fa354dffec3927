#!/usr/bin/env bash
# Load on the reference service against nginx on the same machine, in one run (wrk, 50
# connections on loopback, 10 s a measurement):
#   - downloads of a 1 MiB share: requests/s and p99 as ratios to nginx serving the same file
#     statically (targets: >= 0.9x the throughput, p99 <= 2x);
#   - share pages (HTML; each view writes its count): requests/s and p99;
#   - publishes of 1 MiB documents by signed-in accounts (50 Pro accounts in turn, none near its
#     quota): requests/s and p99 against nginx taking the same bytes into files with PUT
#     (target: >= 0.5x);
# for the records in SQLite and in PostgreSQL (a cluster of its own), and publishes through
# nginx to one and to two PostgreSQL nodes on one data folder (target: two >= 1.6x one).
# Run after `cmake --preset release && cmake --build --preset release --target lumo-share-server`.
set -euo pipefail
cd "$(dirname "$0")/.."
# A cluster of its own that flushes its commits to disk, as SQLite's do.
if [ -z "${LUMO_TEST_POSTGRESQL:-}" ]; then
  LUMO_POSTGRESQL_FSYNC=on exec tests/with-postgresql.sh "$0" "$@"
fi
root="$PWD"
server="$root/build/release/server/lumo-share-server"
[ -x "$server" ] || { echo "service-load: build $server first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-service-load.XXXXXX")
[ "$(id -u)" = 0 ] && chmod 0755 "$work"  # nginx's workers read the static file as nobody
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
seconds=${LUMO_LOAD_SECONDS:-10}
connections=50

port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() { for _ in $(seq 200); do curl -sf -o /dev/null "$1" && return 0; sleep 0.05; done; return 1; }
# One measurement: prints its JSON line, named.
measure() {  # NAME URL wrk-script-arguments...
  local name=$1 url=$2
  shift 2
  printf '"%s": ' "$name" >> "$work/results"
  wrk -t2 -c$connections -d"${seconds}s" --latency -s "$root/bench/service-load.lua" "$url" -- "$@" |
    tail -n 1 >> "$work/results"
}

head -c 1048576 /dev/urandom > "$work/file.bin"
mkdir -p "$work/static" "$work/uploads" "$work/nginx"
cp "$work/file.bin" "$work/static/file.bin"
chmod -R a+rX "$work/static"
[ "$(id -u)" = 0 ] && chown nobody "$work/uploads"

# nginx alone: the same file served statically, the same bytes taken into files.
static_port=$(port)
cat > "$work/nginx/static.conf" <<EOF
worker_processes auto;
pid $work/nginx/static.pid;
error_log $work/nginx/static-error.log warn;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/uploads/.temporary;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$static_port;
    location /static/ { root $work; }
    location /uploads/ { root $work; dav_methods PUT; client_max_body_size 0; }
  }
}
EOF
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/static.conf" -g 'daemon off;' &
pids+=($!)
wait_for "http://127.0.0.1:$static_port/static/file.bin"
: > "$work/results"
measure nginx-download "http://127.0.0.1:$static_port/static/file.bin" get
measure nginx-upload "http://127.0.0.1:$static_port/uploads/" put "$work/file.bin"

# A node: SERVICE DATA PORT [DATABASE]; its accounts' tokens in DATA/tokens.
start_node() {
  local data=$1 listen=$2 database=${3:-}
  local records=(--data "$data")
  [ -n "$database" ] && records+=(--database "$database")
  "$server" serve --listen "127.0.0.1:$listen" "${records[@]}" --rate-limit 0 \
    --public-base "http://127.0.0.1:$listen/" --trusted-proxy 127.0.0.1 2>/dev/null >/dev/null &
  pids+=($!)
  wait_for "http://127.0.0.1:$listen/api/v1/health"
}
make_accounts() {  # DATA [DATABASE]
  local records=(--data "$1")
  [ -n "${2:-}" ] && records+=(--database "$2")
  : > "$1/tokens"
  for n in $(seq 50); do
    "$server" user add "load$n" --plan pro "${records[@]}" > /dev/null
    "$server" token "load$n" "${records[@]}" |
      python3 -c 'import json, sys; print(json.load(sys.stdin)["access_token"])' >> "$1/tokens"
  done
}
new_database() {
  local name="lumo_load_$1"
  psql -q "$LUMO_TEST_POSTGRESQL" -c "CREATE DATABASE $name" > /dev/null
  echo "postgresql:///$name?${LUMO_TEST_POSTGRESQL#*\?}"
}

for store in sqlite postgresql; do
  data="$work/$store"
  mkdir -p "$data"
  database=""
  [ "$store" = postgresql ] && database=$(new_database one)
  make_accounts "$data" "$database"
  listen=$(port)
  start_node "$data" "$listen" "$database"
  base="http://127.0.0.1:$listen"
  slug=$(curl -sf -H "Authorization: Bearer $(head -n 1 "$data/tokens")" \
    -F 'metadata={}' -F "file=@$work/file.bin" "$base/api/v1/docs" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["result"]["doc"]["slug"])')
  measure "$store-download" "$base/$slug/file" get
  measure "$store-page" "$base/$slug" get
  measure "$store-publish" "$base/api/v1/docs" publish "$data/tokens" "$work/file.bin"
  kill "${pids[-1]}"
  wait "${pids[-1]}" 2>/dev/null || true
  unset 'pids[-1]'
done

# PostgreSQL nodes on one data folder behind nginx (server/nginx-nodes.conf): one, then two.
data="$work/nodes"
mkdir -p "$data"
database=$(new_database nodes)
make_accounts "$data" "$database"
nodes=()
for count in 1 2; do
  listen=$(port)
  start_node "$data" "$listen" "$database"
  nodes+=("server 127.0.0.1:$listen;")
  proxy=$(port)
  mkdir -p "$work/proxy$count"
  sed -e "s|@PREFIX@|$work/proxy$count|g" -e "s|@LISTEN@|127.0.0.1:$proxy|" \
    -e "s|@NODES@|${nodes[*]}|" server/nginx-nodes.conf > "$work/proxy$count/nginx.conf"
  /usr/sbin/nginx -p "$work/proxy$count" -c "$work/proxy$count/nginx.conf" -g 'daemon off;' &
  pids+=($!)
  wait_for "http://127.0.0.1:$proxy/api/v1/health"
  measure "nodes$count-publish" "http://127.0.0.1:$proxy/api/v1/docs" publish "$data/tokens" \
    "$work/file.bin"
  kill "${pids[-1]}"
  wait "${pids[-1]}" 2>/dev/null || true
  unset 'pids[-1]'
done

python3 - "$work/results" <<'PY'
import json, os, sys
r = json.loads("{" + ",".join(open(sys.argv[1]).read().split("\n")[:-1]) + "}")
failed = ", ".join(f"{k} {v['failed']}" for k, v in r.items() if v["failed"]) or "none"
print(f"machine: {os.cpu_count()} cores; wrk, 50 connections, loopback; failed answers: {failed}")
def line(name, value, anchor, target=""):
    print(f"{name:38} {value:9.1f}   vs {anchor:9.1f}   {value / anchor:5.2f}x  {target}")
print(f"{'':38} {'service':>9}   {'':>3}{'anchor':>9}   ratio")
nd, nu = r["nginx-download"], r["nginx-upload"]
for store in ("sqlite", "postgresql"):
    d, p, u = r[f"{store}-download"], r[f"{store}-page"], r[f"{store}-publish"]
    line(f"{store}: downloads 1 MiB, req/s", d["rps"], nd["rps"], "(target >= 0.9x nginx)")
    line(f"{store}: downloads p99 ms", d["p99_ms"], nd["p99_ms"], "(target <= 2x nginx)")
    print(f"{store + ': share pages, req/s / p99 ms':38} {p['rps']:9.1f}   p99 {p['p99_ms']:.1f} ms")
    line(f"{store}: publishes 1 MiB, req/s", u["rps"], nu["rps"], "(target >= 0.5x nginx PUT)")
    line(f"{store}: publishes p99 ms", u["p99_ms"], nu["p99_ms"])
one, two = r["nodes1-publish"], r["nodes2-publish"]
line("two nodes vs one behind nginx, req/s", two["rps"], one["rps"], "(target >= 1.6x)")
PY
