#!/usr/bin/env bash
# Runs a test program with HOME on a folder of a person's files (a queued share, settings and
# configuration of LumoShare, their own file types, curl settings) that it cannot write, and with
# no XDG folders; fails unless the program passes without opening anything in that home, let
# alone changing it: the tests must keep to the session of their own that their main gives them
# (PrivateSession), never the caller's home. What is opened in the home is seen through inotify.
# The home is made read-only by its permissions; root ignores those, so as root the program runs
# in a mount namespace of its own where the home is a read-only bind mount (unshare -m), or, where
# root may not mount, as the user "nobody". Before the run, a write into the home must fail, so
# the check cannot pass by accident.
# Usage: in-read-only-home.sh PROGRAM [ARGUMENT...]
set -euo pipefail

base=$(mktemp -d "${TMPDIR:-/tmp}/lumo-read-only-XXXXXX")
home="$base/home"
watcher=
cleanup() {
  if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; fi
  chmod -R u+w "$base" 2>/dev/null || true
  rm -rf "$base"
}
trap cleanup EXIT

root="$home/.local/share/group.com.lumo.share"
mkdir -p "$root/pending/queued-share" "$home/.config/lumo-share" "$home/.cache" "$home/.local/state"
echo '{"clientShareId":"queued-share"}' >"$root/pending/queued-share/share.json"
echo '{"autoUpload":true}' >"$root/settings.json"
echo '{"LumoShareAPIBase":"http://127.0.0.1:9/api/v1"}' >"$home/.config/lumo-share/Info.json"
mkdir -p "$home/.local/share/mime"  # the person's own file types, and curl's settings
echo 'text/x-lumo-test text/plain' >"$home/.local/share/mime/subclasses"
echo 'proxy = "http://127.0.0.1:9"' >"$home/.curlrc"
: >"$home/.end-of-run"
chmod -R a-w "$home"
chmod 755 "$base"
snapshot() {
  (cd "$home" && find . -printf '%p %M %U %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}
before=$(snapshot)

runner=()
if [ "$(id -u)" -eq 0 ]; then
  if unshare -m true 2>/dev/null; then
    runner=(unshare -m --propagation private sh -c
      'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" "$0" && exec "$@"' "$home")
  else
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
fi
run() {
  env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME -u XDG_RUNTIME_DIR \
    HOME="$home" ${runner[@]+"${runner[@]}"} "$@"
}
if run sh -c 'touch "$HOME/probe"' 2>/dev/null; then
  echo "in-read-only-home: the home can be written; the check would prove nothing" >&2
  exit 1
fi

# Every open, read and change in the home's folders, until the end-of-run file is opened.
exec {watchfd}< <(exec python3 - "$home" <<'EOF'
import ctypes, os, struct, sys
home = sys.argv[1]
libc = ctypes.CDLL(None, use_errno=True)
OPEN, ACCESS, CHANGES = 0x20, 0x01, 0x02 | 0x04 | 0x40 | 0x80 | 0x100 | 0x200
fd = libc.inotify_init1(os.O_CLOEXEC)
folders = {}
for folder in [folder for folder, _, _ in os.walk(home)]:  # walked first: walking opens them
    folders[libc.inotify_add_watch(fd, folder.encode(), OPEN | ACCESS | CHANGES)] = folder
print("watching", flush=True)
while True:
    data = os.read(fd, 65536)
    offset = 0
    while offset < len(data):
        wd, mask, _, length = struct.unpack_from("iIII", data, offset)
        name = data[offset + 16 : offset + 16 + length].rstrip(b"\0").decode()
        offset += 16 + length
        if name == ".end-of-run":
            sys.exit(0)
        print(f"{mask:#06x} {os.path.relpath(os.path.join(folders[wd], name), home)}", flush=True)
EOF
)
watcher=$!
read -r _ <&"$watchfd"

status=0
run "$@" || status=$?
cat "$home/.end-of-run"
touched=$(cat <&"$watchfd")
wait "$watcher" || true
watcher=
after=$(snapshot)

if [ -n "$touched" ]; then
  echo "in-read-only-home: the tests opened the home (inotify mask, path):" >&2
  echo "$touched" >&2
  exit 1
fi
if [ "$before" != "$after" ]; then
  echo "in-read-only-home: the tests changed the home:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "in-read-only-home: the tests failed (status $status) in a read-only home" >&2
  exit "$status"
fi
echo "in-read-only-home: the tests passed without opening the home"
