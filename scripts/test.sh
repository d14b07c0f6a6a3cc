#!/usr/bin/env bash
# Runs every katrace test: the native build (with the consumer tests: the
# tree installed and used through find_package, add_subdirectory and
# pkg-config), the address + undefined sanitizer build, the thread-sanitizer
# build (concurrency tests), the clang build (the whole suite under address +
# undefined sanitizer, and a bounded fuzz run), and the Windows build under
# Wine (with the consumer of the installed DLL), then a black box of each build
# read by the other's katr_box. Warnings are errors in every
# build (KATR_WERROR). Installs what is missing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=${KATR_JOBS:-$(nproc)}
out=${KATR_BUILD_ROOT:-$top/build}
fuzz_seconds=${KATR_FUZZ_SECONDS:-60}

# Debian packages the build and the tests need; only missing ones are installed.
need=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
      libbenchmark-dev libspdlog-dev libgoogle-glog-dev g++-mingw-w64-x86-64 wine64
      lld llvm pkg-config python3 rsyslog)
"$top/scripts/install_deps.sh" "${need[@]}"

summary=()
run_ctest() {  # name, build dir, extra ctest args...
  local name=$1 dir=$2; shift 2
  local log="$dir/ctest.log"
  set +e
  # The verbose log keeps every test's own output; the console gets CTest's lines.
  (cd "$dir" && ctest -V --output-on-failure "$@") > "$log" 2>&1
  local rc=$?
  set -e
  grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed|Total Test time' "$log" || true
  if [ $rc -ne 0 ]; then
    echo "---- failing output of $name ($log):"
    grep -E '\[  FAILED  \]|Failure|ERROR|error:|SUMMARY' "$log" | head -n 60 || true
  fi
  local cases
  cases=$(grep -oE '\[==========\] [0-9]+ tests? from [0-9]+ test suites? ran' "$log" \
          | awk '{n += $2} END {print n + 0}')
  summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1) (test executables); $cases test cases")
  return $rc
}
configure_build() {  # build dir, cmake args...
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -G Ninja -DKATR_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

failed=0
echo "== native build"
configure_build "$out/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest native "$out/native" || failed=1

echo "== address + undefined sanitizer build"
configure_build "$out/asan" -DCMAKE_BUILD_TYPE=Debug -DKATR_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan "$out/asan" || failed=1

echo "== thread sanitizer build (concurrency tests)"
configure_build "$out/tsan" -DCMAKE_BUILD_TYPE=Debug -DKATR_SANITIZE=thread
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan "$out/tsan" || failed=1

echo "== clang build: the whole suite (address + undefined sanitizer) and a fuzz run (${fuzz_seconds}s per target)"
configure_build "$out/fuzz" -DCMAKE_BUILD_TYPE=Debug -DKATR_FUZZ=ON -DKATR_SANITIZE=address \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 KATR_FUZZ_SECONDS=$fuzz_seconds \
  run_ctest clang "$out/fuzz" || failed=1

echo "== Windows build under Wine"
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
configure_build "$out/mingw" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
# One wineserver for the whole run, kept busy by an idle command prompt: with
# Wine's own services already up, each test executable starts in a fraction
# of a second instead of about five seconds.
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
wineserver -p 2>/dev/null || true
( sleep 3600 & echo $! > "$out/wine-keeper.pid"; wait ) | /usr/lib/wine/wine64 cmd >/dev/null 2>&1 &
sleep 3
run_ctest mingw-wine "$out/mingw" || failed=1
echo "== black boxes across the builds"
if "$top/scripts/box_cross_check.sh" "$out/native/bin" "$out/mingw/bin" "$out/box-cross"; then
  summary+=("box-cross: passed (each build's box decoded by both builds' katr_box)")
else
  summary+=("box-cross: FAILED"); failed=1
fi
kill "$(cat "$out/wine-keeper.pid")" 2>/dev/null || true
wineserver -k 2>/dev/null || true

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
if [ $failed -ne 0 ]; then
  echo "SOME CONFIGURATIONS FAILED"
fi
# CTest's own summary line over all configurations, for the record.
total=0; bad=0
for d in native asan tsan fuzz mingw; do
  [ -f "$out/$d/ctest.log" ] || continue
  line=$(grep -E 'tests passed|tests failed' "$out/$d/ctest.log" | tail -n 1)
  n=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line"); f=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
  total=$((total + n)); bad=$((bad + f))
done
echo "$(( total == 0 ? 0 : (100 * (total - bad) / total) ))% tests passed, $bad tests failed out of $total"
exit $failed
