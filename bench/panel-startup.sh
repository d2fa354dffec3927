#!/usr/bin/env bash
# Start-up of the share panel: from process start to the ready form for one small file, against
# the time an empty Qt window of the same size takes to show, both in the same X server (Xvfb) and
# measured by hyperfine in one run. Prints the ratio (target: at most 1.2) and the difference in
# milliseconds. Both run the same executable: what loading it costs counts on both sides.
# Run after `cmake --preset release && cmake --build --preset release`.
set -euo pipefail
cd "$(dirname "$0")/.."
probe="$PWD/build/release/bench/lumo_panel_startup"
work=$(mktemp -d /tmp/lumo-panel-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# A private home, so the staged shares of the runs land in the bench's folder.
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
printf 'Quarterly numbers\n' > "$work/report.txt"

xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb \
  hyperfine --warmup 3 --runs 30 --export-json "$work/times.json" \
  -n "empty Qt window" "$probe --empty" \
  -n "panel, ready form" "$probe --panel $work/report.txt"

python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
empty, panel = results["empty Qt window"], results["panel, ready form"]
ratio = panel["median"] / empty["median"]
difference_ms = 1000 * (panel["median"] - empty["median"])
print(f"panel-startup: ready form / empty window = {ratio:.2f} (median), "
      f"{panel['mean'] / empty['mean']:.2f} (mean); target <= 1.2; "
      f"ready form - empty window = {difference_ms:.1f} ms (median)")
PY
