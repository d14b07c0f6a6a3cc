#!/usr/bin/env bash
# Builds the library and the demo host (native, Release) and runs the demo:
# it writes a configuration beside itself, traces from several threads,
# steers itself once from a shell with katrctl through its control endpoint,
# reloads a changed configuration and shows the resulting log files.
# Arguments go to the host: --linger SECONDS keeps it running (endpoint open,
# two threads tracing) for katrctl sessions in another terminal.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KATR_DEMO_BUILD:-$top/build/demo}
"$top/scripts/install_deps.sh" cmake ninja-build g++ googletest
cmake -S "$top" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j "${KATR_JOBS:-2}" --target demo_host katrctl katr_check katr_viewer >/dev/null
echo "tools: $out/bin/katrctl, $out/bin/katr_check, $out/bin/katr_viewer"
rm -rf "$out/bin/log"
exec "$out/bin/demo_host" "$@"
