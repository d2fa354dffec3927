#!/usr/bin/env bash
# Runs a command beside a PostgreSQL 15 cluster of its own: made in a temporary folder, listening
# on a free loopback port and on a socket in that folder, gone afterwards. The command finds it
# in LUMO_TEST_POSTGRESQL, a libpq URI of its "postgres" database for the superuser "postgres";
# the tests make a database of their own in it for every service they start.
# PostgreSQL refuses to run as root: as root, the cluster runs as the "postgres" user.
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
[ -x "$bin/initdb" ] || { echo "with-postgresql: no $bin/initdb (Debian's postgresql-15)" >&2; exit 1; }
folder=$(mktemp -d "${TMPDIR:-/tmp}/lumo-postgresql.XXXXXX")
as=()
if [ "$(id -u)" = 0 ]; then
  chmod 0711 "$folder"
  chown postgres: "$folder"
  as=(runuser -u postgres --)
fi
stop() {
  "${as[@]}" "$bin/pg_ctl" -D "$folder/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$folder"
}
trap stop EXIT
if ! "${as[@]}" "$bin/initdb" -D "$folder/data" -U postgres -A trust -E UTF8 --no-sync \
  >"$folder/initdb.log" 2>&1; then
  cat "$folder/initdb.log" >&2
  exit 1
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Durability is not what the tests check (they kill service nodes, never the database), so the
# cluster does not flush unless LUMO_POSTGRESQL_FSYNC=on (the load benchmark).
fsync=${LUMO_POSTGRESQL_FSYNC:-off}
if ! "${as[@]}" "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 -o \
  "-c listen_addresses=127.0.0.1 -p $port -k $folder -c fsync=$fsync -c max_connections=400" \
  start >/dev/null; then
  cat "$folder/server.log" >&2
  exit 1
fi
export LUMO_TEST_POSTGRESQL="postgresql:///postgres?host=$folder&port=$port&user=postgres"
"$@"
