#!/usr/bin/env bash
# A black box written by one build decodes with the other build's katr_box:
# box_sample of the Linux build and of the Windows build (under Wine) each
# write a box, and both katr_box tools print both boxes. The four listings
# must agree but for the time column (each box was written at its own time),
# and each tool's timeline of the other's box must pass tools/check_timeline.py.
# Usage: box_cross_check.sh NATIVE_BIN MINGW_BIN WORK_DIR (Wine's variables set).
set -euo pipefail
native=$1 mingw=$2 work=$3
tools=$(cd "$(dirname "$0")/../tools" && pwd)
wine=/usr/lib/wine/wine64
rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$native/box_sample" linux.kbox
$wine "$mingw/box_sample.exe" windows.kbox
for box in linux windows; do
  "$native/katr_box" $box.kbox > $box.by-linux.txt
  $wine "$mingw/katr_box.exe" $box.kbox | tr -d '\r' > $box.by-windows.txt
done
# Time and date columns off; what remains is thread, rank, depth, function, text.
for f in *.txt; do cut -d' ' -f3- "$f" > "${f%.txt}.events"; done
status=0
for f in linux.by-windows windows.by-linux windows.by-windows; do
  if ! diff -u linux.by-linux.events $f.events; then
    echo "box_cross_check: $f differs from linux.by-linux" >&2
    status=1
  fi
done
# Each tool's timeline of the other build's box is whole JSON with its
# scopes closed, times in order and threads named.
"$native/katr_box" --timeline windows.by-linux.json windows.kbox > /dev/null
$wine "$mingw/katr_box.exe" --timeline linux.by-windows.json linux.kbox > /dev/null
for t in windows.by-linux linux.by-windows; do
  python3 "$tools/check_timeline.py" $t.json Demo::work "3 items from disk" || status=1
done
lines=$(wc -l < linux.by-linux.events)
[ "$lines" -ge 6 ] || { echo "box_cross_check: only $lines events decoded" >&2; status=1; }
[ $status -eq 0 ] && echo "box_cross_check: the boxes of both builds decode alike with both tools ($lines events each)"
exit $status
