#!/usr/bin/env bash
# The zip writer against Info-ZIP storing the same 100 MiB in 10 entries (`zip -0`, writing its
# archive into the temporary folder), in one run of the Google Benchmark cases of
# bench/ShareZipBench.cpp, and prints the ratio of the archive streamed from the files on disk, as
# a bundle upload sends it (target <= 0.25).
# Run after `cmake --preset release && cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d "${TMPDIR:-/tmp}/lumo-zip-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
build/release/bench/lumoshare_bench --benchmark_filter='Crc32|ShareZip|ZipTool' \
  --benchmark_format=json --benchmark_out="$work/zip.json" --benchmark_out_format=json > /dev/null

python3 - "$work/zip.json" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
ms = lambda name: runs[name]["real_time"]  # every case reports in milliseconds
print(f"CRC-32: {runs['BM_Crc32']['bytes_per_second'] / 2**30:.2f} GiB/s")
anchor = ms("BM_ZipToolStore100MiB")
streamed = ms("BM_ShareZipStreamed100MiB")
print(f"ShareZip streamed from disk: {streamed:.1f} ms, zip -0: {anchor:.1f} ms, "
      f"ratio {streamed / anchor:.2f}  (target <= 0.25)")
PY
