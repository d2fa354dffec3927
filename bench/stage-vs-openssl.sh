#!/usr/bin/env bash
# Stages a 1 GiB file with `lumo-share stage` (copy into the queue and SHA-256 of the copy) and
# compares it, whole process against whole process, with one `openssl dgst -sha256` pass over the
# same file: the least any staging can cost, since every byte must be hashed once. The two run in
# turn, round after round after a warm-up (so both read the file from the page cache), and the
# script prints the median of the rounds' ratios: on a shared machine the load changes within
# minutes, and a round compares the two under the same load. Target: at most 1.05.
# Run after `cmake --preset release && cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
tool="$PWD/build/release/cli/lumo-share"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-stage-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c 1073741824 /dev/urandom > "$work/large.bin"

python3 - "$tool" "$work" <<'PY'
import os, shutil, statistics, subprocess, sys, time
tool, work = sys.argv[1], sys.argv[2]
large, data = os.path.join(work, "large.bin"), os.path.join(work, "data")
stage = [tool, "stage", large]
digest = ["openssl", "dgst", "-sha256", large]

def timed(command, **options):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **options)
    return time.perf_counter() - start

def staged():
    shutil.rmtree(data, ignore_errors=True)
    return timed(stage, env=dict(os.environ, XDG_DATA_HOME=data))

rounds = 15
staged(), timed(digest)  # warm-up: both read the file from the page cache from here on
times = [(staged(), timed(digest)) for _ in range(rounds)]
print(f"lumo-share stage:     {statistics.median(s for s, _ in times):.2f} s (median of {rounds})")
print(f"openssl dgst -sha256: {statistics.median(d for _, d in times):.2f} s (median of {rounds})")
print(f"ratio: {statistics.median(s / d for s, d in times):.2f} (median of the rounds' ratios; "
      "target <= 1.05)")
PY
