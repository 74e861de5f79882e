#!/usr/bin/env bash
# The whole test suite on a fresh or warm machine: installs what is missing, builds the
# Linux (i386) and Windows (i686) targets, and runs
#   1. the Linux suite,
#   2. the end-to-end suite under valgrind's helgrind, and the Linux suite again under
#      AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. the libFuzzer targets (clang) for a short while on the checked-in corpus,
#   4. the Windows suite under Wine,
# then checks that the driver answers its information command byte for byte alike on
# both platforms. Exits nonzero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-20}

./scripts/install-deps.sh

summary=()
configure() {  # configure <dir> <toolchain> [cmake args...]
  local dir=$1 toolchain=$2
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
}
run_suite() {  # run_suite <name> <dir>
  local name=$1 dir=$2
  echo "== $name: tests"
  local rc=0
  ctest --test-dir "$dir" --output-on-failure --timeout 300 -j"$jobs" 2>&1 | tee "$dir/ctest.log" || rc=$?
  summary+=("$name: $(grep -E 'tests passed|tests failed' "$dir/ctest.log" | tail -n 1)")
  return $rc
}

mkdir -p build

echo "== Linux i386: build"
configure build/linux toolchain-linux-i386.cmake
cmake --build build/linux -j"$jobs"
run_suite "Linux i386" build/linux

echo "== helgrind over the end-to-end suite (the driver's threads at work)"
valgrind --tool=helgrind --error-exitcode=1 --suppressions=tests/valgrind/helgrind.supp -q \
  build/linux/bin/end_to_end_tests >build/linux/helgrind.log 2>&1 ||
  { grep -v "^[0-9:.]* \[" build/linux/helgrind.log | tail -n 80; exit 1; }
summary+=("helgrind: $(grep -E '^\[  PASSED  \]' build/linux/helgrind.log), no race reported")

echo "== Linux i386 with ASan+UBSan: build"
configure build/asan toolchain-linux-i386.cmake -DDEVADO_SANITIZE=ON -DDEVADO_BENCH=OFF
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite "Linux i386 ASan+UBSan" build/asan

echo "== libFuzzer (clang): build and run ${fuzz_seconds}s per target"
configure build/fuzz toolchain-linux-i386.cmake -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DDEVADO_FUZZ=ON -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF
cmake --build build/fuzz -j"$jobs"
for target in build/fuzz/bin/*_fuzz; do
  name=$(basename "$target" _fuzz)
  scratch=build/fuzz/new-inputs/$name
  mkdir -p "$scratch"
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$scratch" "fuzz/corpus/$name" \
    >"build/fuzz/$name.log" 2>&1 || { tail -n 60 "build/fuzz/$name.log"; exit 1; }
  summary+=("fuzz $name: $(grep -E '^stat::number_of_executed_units' "build/fuzz/$name.log" |
    awk '{print $2}') runs in ${fuzz_seconds}s, no crash")
done

echo "== Windows i686: build"
configure build/windows toolchain-mingw-i686.cmake -DDEVADO_BENCH=OFF
cmake --build build/windows -j"$jobs"
export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The server is started first and detached from ctest's pipes; otherwise every test
# waits for Wine's helper processes to let go of its output.
start_wine() {
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot -i </dev/null >/dev/null 2>&1
}
start_wine
rc=0
run_suite "Windows i686 under Wine" build/windows || rc=$?
# Now and then a Wine process loses its connection to the Wine server ("wine client
# error"), which fails whatever test it was running. Only then are the failed tests run
# once more; any other failure stands.
if [ $rc -ne 0 ] && grep -q "wine client error" build/windows/ctest.log; then
  echo "== Wine lost its server during the run: the failed tests once more"
  start_wine
  rc=0
  ctest --test-dir build/windows --rerun-failed --output-on-failure --timeout 300 2>&1 |
    tee build/windows/ctest-rerun.log || rc=$?
  summary+=("Windows i686 under Wine, failed tests rerun after a Wine server error: $(
    grep -E 'tests passed|tests failed' build/windows/ctest-rerun.log | tail -n 1)")
fi

echo "== Driver information on both platforms"
build/linux/bin/devado-host --hex >build/info-linux.txt
wine build/windows/bin/devado-host.exe --hex </dev/null | tr -d '\r' >build/info-windows.txt
wineserver -k || true
[ $rc -eq 0 ] || exit $rc
if cmp -s build/info-linux.txt build/info-windows.txt; then
  summary+=("driver information: identical on Linux and Windows ($(wc -l <build/info-linux.txt) fields)")
else
  diff build/info-linux.txt build/info-windows.txt || true
  echo "driver information differs between Linux and Windows"
  exit 1
fi

echo "== Summary"
printf '%s\n' "${summary[@]}"
