#!/usr/bin/env bash
# Builds the library, the tools and the demo host (native, Release) and runs
# the demo: it writes a configuration beside itself, traces from several
# threads, reloads a changed configuration and shows the resulting log files.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KATR_DEMO_BUILD:-$top/build/demo}
"$top/scripts/install_deps.sh" cmake ninja-build g++ googletest
cmake -S "$top" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j "${KATR_JOBS:-2}" --target demo_host katr_check katr_viewer >/dev/null
echo "tools: $out/bin/katr_check, $out/bin/katr_viewer"
rm -rf "$out/bin/log"
exec "$out/bin/demo_host"
