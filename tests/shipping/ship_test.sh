#!/usr/bin/env bash
# Ships a host's stable-named logs with a real rsyslog (imfile, inotify mode,
# following "<dir>/ship_host*.log.*") and GNU tail -F (following the link
# ship_host.log), and counts every line by its "<pid>:<sequence>" prefix:
# lost = written but never shipped, dup = shipped more than once. rsyslogd
# runs in the foreground with a private configuration, pid file and work
# directory: no system service, no /dev/log. Fails when imfile loses or
# repeats a line. Usage: ship_test.sh <ship_host> [repeats]
set -euo pipefail
host=$1
repeats=${2:-${KATR_SHIP_REPEATS:-1}}
top=$(cd "$(dirname "$0")/../.." && pwd)
command -v rsyslogd >/dev/null || PATH=$PATH:/usr/sbin
command -v rsyslogd >/dev/null || "$top/scripts/install_deps.sh" rsyslog
command -v rsyslogd >/dev/null || { echo "rsyslogd is not available"; exit 1; }

work=$(mktemp -d /tmp/katr_ship.XXXXXX)
rs_pid="" tail_pid="" host_pid=""
stop() {  # pid: ends one process this script started
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 0
  kill -CONT "$1" 2>/dev/null || true
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$host_pid"; stop "$tail_pid"; stop "$rs_pid"
  rm -rf "$work"
}
trap cleanup EXIT

logs=$work/log
# collector start: a fresh log directory, spool and outputs for each run.
start_collectors() {  # follow the link with tail -F? (yes|no)
  rm -rf "$logs" "$work/spool" "$work/shipped.txt" "$work/tail.txt" "$work/written.txt"
  mkdir -p "$logs" "$work/spool"
  : > "$work/written.txt"
  cat > "$work/rsyslog.conf" <<CONF
global(workDirectory="$work/spool")
module(load="imfile" mode="inotify")
main_queue(queue.size="1000000")
template(name="raw" type="string" string="%msg%\n")
ruleset(name="ship") { action(type="omfile" file="$work/shipped.txt" template="raw") }
input(type="imfile" File="$logs/ship_host*.log.*" Tag="katrace" ruleset="ship" mode="inotify")
CONF
  rsyslogd -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" > "$work/rsyslogd.out" 2>&1 &
  rs_pid=$!
  tail_pid=""
  if [ "$1" = yes ]; then
    tail -n +1 -F "$logs/ship_host.log" > "$work/tail.txt" 2>/dev/null &
    tail_pid=$!
  fi
  sleep 1
}
jot() {  # size keep grace [pid]
  cat > "$work/ship.jot" <<JOT
LogDirectoryName $logs
LogFileNaming stable
PrintSequence on
PrintTime off
PrintFunction off
PrintToDebugVew off
DefaultLoggingRank error
LogFileSize $1
LogNumberOfFilesToKeep $2
LogRetentionGrace $3
AddPIDtoLogFilename ${4:-off}
JOT
}
# Waits until the file stops growing for 2 s (at most 90 s).
settle() {
  local last=-1 now same=0
  for _ in $(seq 1 180); do
    now=$(wc -c < "$1" 2>/dev/null || echo 0)
    if [ "$now" = "$last" ]; then same=$((same + 1)); [ $same -ge 4 ] && return 0; else same=0; fi
    last=$now; sleep 0.5
  done
}
# lost/dup of shipped (arg 1) against the expected "pid count" lines in
# $work/written.txt, or against the lines found in the log files.
count() {
  local shipped=$1
  if [ -s "$work/written.txt" ]; then
    awk '{for (i = 0; i < $2; ++i) print $1 ":" i}' "$work/written.txt" | sort -u > "$work/expected"
  else
    cat "$logs"/ship_host*.log.* | grep -aoE '^[0-9]+:[0-9]+ ' | tr -d ' ' | sort -u > "$work/expected"
  fi
  [ -f "$shipped" ] || : > "$shipped"
  grep -aoE '^ ?[0-9]+:[0-9]+ ' "$shipped" | tr -d ' ' | sort > "$work/got" || true
  local lost dup total
  total=$(wc -l < "$work/expected")
  lost=$(comm -23 "$work/expected" <(sort -u "$work/got") | wc -l)
  dup=$(( $(wc -l < "$work/got") - $(sort -u "$work/got" | wc -l) ))
  echo "$lost/$dup of $total"
}
failed=0
report() {  # scenario, with tail?
  settle "$work/shipped.txt"
  local im tl="-"
  im=$(count "$work/shipped.txt")
  [ "$2" = yes ] && tl=$(count "$work/tail.txt")
  stop "$tail_pid"; stop "$rs_pid"; rs_pid="" tail_pid=""
  printf '%-44s | imfile lost/dup %-22s | tail -F lost/dup %s\n' "$1" "$im" "$tl"
  case "$im" in 0/0\ *) ;; *) failed=1 ;; esac
}

for r in $(seq 1 "$repeats"); do
  echo "== run $r"
  # 2,000 lines/s for 10 s (about 960 kB), 19.5 kB files: about 50 rotations, keep 5.
  start_collectors yes; jot 19500 5 0
  "$host" rate "$work/ship.jot" 2000 10 >> "$work/written.txt"
  report "2,000 lines/s, ~50 rotations, keep 5" yes

  # 200,000 lines from 4 threads at once, 1 MB files, keep 5, grace 10 s.
  start_collectors yes; jot 1048576 5 10
  "$host" burst "$work/ship.jot" 200000 4 >> "$work/written.txt"
  report "burst of 200,000 lines (4 threads), keep 5" yes

  # The collector stopped for 1 s while 2,000 lines/s go on, keep 2, grace 10 s.
  start_collectors yes; jot 64000 2 10
  "$host" rate "$work/ship.jot" 2000 6 >> "$work/written.txt" &
  host_pid=$!
  sleep 2; kill -STOP "$rs_pid"; sleep 1; kill -CONT "$rs_pid"
  wait "$host_pid"; host_pid=""
  report "collector stalled 1 s, keep 2, grace 10 s" yes

  # kill -9 twice while writing, then a run that ends; with and without the pid.
  for pid_in_name in off on; do
    with_tail=no; [ $pid_in_name = off ] && with_tail=yes
    start_collectors $with_tail; jot 24000 1000 0 $pid_in_name
    for _ in 1 2; do
      "$host" run "$work/ship.jot" 2000 > /dev/null &
      host_pid=$!
      sleep 2; kill -9 "$host_pid"; wait "$host_pid" 2>/dev/null || true; host_pid=""
    done
    : > "$work/written.txt"  # the truth is what the files hold
    report "kill -9 and restart (pid in name: $pid_in_name)" $with_tail
  done
done
if [ $failed -ne 0 ]; then
  echo "shipping: imfile lost or repeated lines"; exit 1
fi
echo "shipping: every line shipped exactly once"
