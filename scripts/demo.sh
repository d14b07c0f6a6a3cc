#!/usr/bin/env bash
# Builds the library and the demo host (native, Release) and runs the demo:
# it writes a configuration beside itself, traces from several threads,
# steers itself once from a shell with katrctl through its control endpoint,
# reloads a changed configuration and shows the resulting log files; then
# reads its black box with katr_box: the newest events of every thread, and
# a timeline for Perfetto's UI or chrome://tracing.
# Arguments go to the host: --linger SECONDS keeps it running (endpoint open,
# two threads tracing) for katrctl sessions in another terminal.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KATR_DEMO_BUILD:-$top/build/demo}
"$top/scripts/install_deps.sh" cmake ninja-build g++ googletest
cmake -S "$top" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j "${KATR_JOBS:-2}" --target demo_host katrctl katr_check katr_viewer katr_box >/dev/null
echo "tools: $out/bin/katrctl, $out/bin/katr_check, $out/bin/katr_viewer, $out/bin/katr_box"
rm -rf "$out/bin/log"
"$out/bin/demo_host" "$@"

# The demo's black box, read after the run like one a crashed host left.
box=$(ls "$out"/bin/log/demo_host_*.kbox 2>/dev/null | head -n 1 || true)
if [ -z "$box" ]; then
  echo "no black box in $out/bin/log" >&2
  exit 1
fi
echo
echo "===== the black box: katr_box --last 20 $box ====="
"$out/bin/katr_box" --last 20 "$box"
timeline="$out/bin/log/demo_timeline.json"
echo
echo "===== katr_box --timeline $timeline (for https://ui.perfetto.dev or chrome://tracing): its first lines ====="
"$out/bin/katr_box" --timeline "$timeline" "$box" >/dev/null
head -n 15 "$timeline"
echo "... ($(grep -c '"ph"' "$timeline") events in all)"
