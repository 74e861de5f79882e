#!/usr/bin/env bash
# The whole test suite on a fresh or warm machine: installs what is missing, builds the
# Linux (i386) and Windows (i686) targets, and runs
#   1. the Linux suite,
#   2. the end-to-end suite under valgrind's helgrind,
#   3. the Linux suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
#   4. the libFuzzer targets (clang) for a short while on the checked-in corpus,
#   5. the Windows suite under Wine,
# then checks that the driver answers its information command byte for byte alike on
# both platforms, and makes the Debian package and the Windows zip, checks what they
# hold, installs the Debian package and runs its programs (removing it again), and runs
# the programs of the unpacked zip under Wine. Every suite runs even when an earlier one
# failed; the summary at the end lists each suite as passed, failed or not run (with the
# reason), and the exit status is nonzero when any suite failed.
#
# On a machine whose kernel cannot run i386 programs, the i386 programs run through
# qemu-user (see preflight.sh); Wine and helgrind cannot work there, so the Windows
# targets are built but not run, and those two suites are reported as not run.
# DEVADO_EMULATE=1 takes that path on any machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
# The tests spend nearly all their time waiting on sockets and timers (a whole suite uses
# about a tenth of the processors' time), so twice as many run at once as there are build
# jobs: the suites take half as long, and each test still finds a processor free.
test_jobs=${TEST_JOBS:-$((jobs * 2))}
fuzz_seconds=${FUZZ_SECONDS:-20}
# shellcheck source=scripts/preflight.sh
source scripts/preflight.sh

summary=()
stages=()
failed=0
passed_tests=0
failed_tests=0
note() { summary+=("$1"); }
fail() {
  summary+=("$1")
  failed=1
}
# timed <stage> <command...>: runs the command and notes how long it took, for the summary.
timed() {
  local stage=$1 start rc=0
  shift
  start=$(date +%s)
  "$@" || rc=$?
  stages+=("$(printf '%5d s  %s' $(($(date +%s) - start)) "$stage")")
  return $rc
}

# The install script's decisions, against a stand-in apt: before it runs for real.
install_deps_suite() {
  local log=build/install-deps-test.log line
  mkdir -p build
  echo "== install-deps.sh against a stand-in apt"
  if bash tests/scripts/install_deps_test.sh >"$log" 2>&1; then
    note "install-deps decisions: $(tail -n 1 "$log")"
  else
    cat "$log"
    fail "install-deps decisions: FAILED: $(tail -n 1 "$log")$(grep -E '^FAIL' "$log" | while read -r line; do printf '\n  %s' "$line"; done)"
  fi
  line=$(tail -n 1 "$log")
  [[ $line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]] || return 0
  passed_tests=$((passed_tests + BASH_REMATCH[1]))
  failed_tests=$((failed_tests + BASH_REMATCH[2]))
}

echo "== Preparing this machine"
timed "install-deps decisions (stand-in apt)" install_deps_suite
timed "packages" ./scripts/install-deps.sh linux
preflight_i386 || exit 1
if [ "$i386_native" -eq 1 ]; then
  timed "packages for the tests" ./scripts/install-deps.sh tests helgrind wine
else
  timed "packages for the tests" ./scripts/install-deps.sh tests
fi
# Every build goes through ccache: the four trees share most of their sources, and a
# second run (or a fresh clone in another folder) compiles only what changed. The base
# folder makes paths relative, so that clones in different folders share the cache.
compiler_launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=true
  compiler_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Set either way, so that a build tree made on the other path does not keep its setting.
linux_args=("-DCMAKE_CROSSCOMPILING_EMULATOR=$(IFS=';'; echo "${i386_launcher[*]}")")

configure() {  # configure <dir> <toolchain> [cmake args...]
  local dir=$1 toolchain=$2
  shift 2
  mkdir -p build
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    ${compiler_launcher[@]+"${compiler_launcher[@]}"} "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
}
build() {  # build <name> <dir> <toolchain> [cmake args...]
  local name=$1 dir=$2
  shift 2
  echo "== $name: building (a few minutes on 2 cores, less with a warm compiler cache)..."
  timed "build $name" build_tree "$dir" "$@" ||
    { tail -n 60 "$dir.build.log" 2>/dev/null; fail "$name: failed: the build failed (log in $dir.build.log)"; return 1; }
}
build_tree() {  # build_tree <dir> <toolchain> [cmake args...]
  configure "$@" && cmake --build "$1" -j"$jobs" >"$1.build.log" 2>&1
}
count_tests() {  # adds a ctest log's closing counts to the totals
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1) || return 0
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed_tests=$((passed_tests + total - bad))
  failed_tests=$((failed_tests + bad))
}
ctest_run() {  # ctest_run <dir> <log> [ctest args...]
  local dir=$1 log=$2 rc=0
  shift 2
  ctest --test-dir "$dir" --output-on-failure --timeout 300 -j"$test_jobs" "$@" 2>&1 | tee "$log" || rc=$?
  return $rc
}
record_suite() {  # record_suite <name> <status> <ctest log>
  local counts
  counts=$(grep -E 'tests passed|tests failed' "$3" | tail -n 1)
  [ -n "$counts" ] || counts="ctest ended without a result (status $2)"
  if [ "$2" -eq 0 ]; then note "$1: $counts"; else fail "$1: FAILED: $counts$(failed_tests_of "$3")"; fi
}
failed_tests_of() {  # the failed tests a ctest log lists, and the first lines of each failure
  local names failures
  names=$(sed -n '/The following tests FAILED:/,$p' "$1" | grep -E '^[[:space:]]+[0-9]+ - ' | head -n 20)
  failures=$(grep -A 8 -E ': Failure$' "$1" | head -n 40)
  [ -z "$names" ] || printf '\n  failed tests:\n%s' "$names"
  [ -z "$failures" ] || printf '\n  first failures:\n%s' "$failures"
}
run_suite() {  # run_suite <name> <dir>
  local rc=0
  echo "== $1: tests"
  timed "tests $1" ctest_run "$2" "$2/ctest.log" || rc=$?
  record_suite "$1" $rc "$2/ctest.log"
  count_tests "$2/ctest.log"
}

linux_suite() {
  build "Linux i386" build/linux toolchain-linux-i386.cmake "${linux_args[@]}" || return 1
  run_suite "Linux i386" build/linux
}

helgrind_findings() {  # the failed tests and the first report of a helgrind log, for the summary
  local tests failures report
  tests=$(grep -E '^\[  FAILED  \] [A-Za-z]' "$1" | sort -u | head -n 10)
  failures=$(grep -A 8 -E ': Failure$' "$1" | head -n 30)
  report=$(grep -E '^==[0-9]+== ' "$1" | grep -v -E '^==[0-9]+== *$' | head -n 40)
  [ -z "$tests" ] || printf '\n  failed tests:\n%s' "$tests"
  [ -z "$failures" ] || printf '\n  first failures:\n%s' "$failures"
  [ -z "$report" ] || printf '\n  first report:\n%s' "$report"
}
helgrind_suite() {
  if [ "$i386_native" -ne 1 ]; then
    note "helgrind: not run: this machine cannot run 32-bit programs natively (valgrind needs that)"
    return
  fi
  [ -x build/linux/bin/end_to_end_tests ] || { fail "helgrind: not run: the Linux build failed"; return; }
  echo "== helgrind over the end-to-end suite (the driver's threads at work; about 2 minutes)"
  # Races and lock orders are both checked. The driver's and the simulated stations' locks
  # that live and die with an instance or a station are win::Lock, whose end helgrind
  # sees, so a freed lock's orders are not pinned on the next one at its address.
  # Valgrind runs one thread at a time; fair scheduling hands the processor round in turn,
  # so a thread that keeps busy cannot starve one that a test waits for.
  if valgrind --tool=helgrind --track-lockorders=yes --fair-sched=yes --error-exitcode=1 \
    --suppressions=tests/valgrind/helgrind.supp -q \
    build/linux/bin/end_to_end_tests >build/linux/helgrind.log 2>&1; then
    note "helgrind: $(grep -E '^\[  PASSED  \]' build/linux/helgrind.log), no race reported"
  else
    grep -v "^[0-9:.]* \[" build/linux/helgrind.log | tail -n 80
    fail "helgrind: FAILED (log in build/linux/helgrind.log)$(helgrind_findings build/linux/helgrind.log)"
  fi
}

asan_suite() {
  build "Linux i386 ASan+UBSan" build/asan toolchain-linux-i386.cmake -DDEVADO_SANITIZE=ON \
    -DDEVADO_BENCH=OFF "${linux_args[@]}" || return 1
  local leaks=1 name="Linux i386 ASan+UBSan"
  # LeakSanitizer stops the world through ptrace, which qemu-user does not provide.
  if [ "$i386_native" -ne 1 ]; then
    leaks=0
    name="Linux i386 ASan+UBSan (leak detection off: it needs ptrace, which qemu-user lacks)"
  fi
  ASAN_OPTIONS=detect_leaks=$leaks:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite "$name" build/asan
}

fuzz_suite() {
  build "libFuzzer (clang)" build/fuzz toolchain-linux-i386.cmake -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DDEVADO_FUZZ=ON -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF || return 1
  local asan=detect_leaks=1 target name scratch
  # Under qemu-user the sanitizer's allocator runs short of address space with the
  # fuzzer's default quarantine, and leak detection needs ptrace.
  [ "$i386_native" -eq 1 ] || asan=detect_leaks=0:quarantine_size_mb=16
  for target in build/fuzz/bin/*_fuzz; do
    name=$(basename "$target" _fuzz)
    scratch=build/fuzz/new-inputs/$name
    mkdir -p "$scratch"
    echo "== fuzz $name: ${fuzz_seconds}s"
    if ASAN_OPTIONS=$asan timed "fuzz $name" ${i386_launcher[@]+"${i386_launcher[@]}"} "$target" \
      -max_total_time="$fuzz_seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/ \
      "$scratch" "fuzz/corpus/$name" \
      >"build/fuzz/$name.log" 2>&1; then
      note "fuzz $name: $(grep -E '^stat::number_of_executed_units' "build/fuzz/$name.log" |
        awk '{print $2}') runs in ${fuzz_seconds}s, no crash"
    else
      tail -n 60 "build/fuzz/$name.log"
      fail "fuzz $name: FAILED (log in build/fuzz/$name.log)"
    fi
  done
}

windows_suite() {
  build "Windows i686" build/windows toolchain-mingw-i686.cmake -DDEVADO_BENCH=OFF || return 1
  if [ "$i386_native" -ne 1 ]; then
    note "Windows suite: not run: this machine cannot run 32-bit programs natively (built only)"
    return
  fi
  preflight_wine "$root/build/windows/wineprefix" || { fail "Windows suite: FAILED: Wine does not start"; return; }
  echo "== Windows i686 under Wine: tests"
  local rc=0 name="Windows i686 under Wine" log=build/windows/ctest.log
  timed "tests $name" ctest_run build/windows "$log" || rc=$?
  # Now and then a Wine process loses its connection to the Wine server ("wine client
  # error"), which fails whatever test it was running. Only then are the failed tests run
  # once more; any other failure stands.
  if [ $rc -ne 0 ] && grep -q "wine client error" "$log"; then
    echo "== Wine lost its server during the run: the failed tests once more"
    # The first run's passes count; of its failures, only those that fail again.
    local before=$failed_tests
    count_tests "$log"
    local first_failures=$((failed_tests - before))
    preflight_wine "$WINEPREFIX" >/dev/null || true
    rc=0
    ctest_run build/windows build/windows/ctest-rerun.log --rerun-failed || rc=$?
    count_tests build/windows/ctest-rerun.log
    failed_tests=$((failed_tests - first_failures))
    record_suite "$name (failed tests rerun after a Wine server error)" $rc build/windows/ctest-rerun.log
  else
    record_suite "$name" $rc "$log"
    count_tests "$log"
  fi
  compare_driver_information
  stop_wine
}

compare_driver_information() {
  echo "== Driver information on both platforms"
  [ -x build/linux/bin/devado-host ] || { fail "driver information: not compared: the Linux build failed"; return; }
  ${i386_launcher[@]+"${i386_launcher[@]}"} build/linux/bin/devado-host --hex >build/info-linux.txt
  wine build/windows/bin/devado-host.exe --hex </dev/null | tr -d '\r' >build/info-windows.txt
  if cmp -s build/info-linux.txt build/info-windows.txt; then
    note "driver information: identical on Linux and Windows ($(wc -l <build/info-linux.txt) fields)"
  else
    diff build/info-linux.txt build/info-windows.txt || true
    fail "driver information: FAILED: differs between Linux and Windows"
  fi
}

# make_package <dir> <extension>: makes the package of the build in <dir> (into
# <dir>/packages, emptied first) and prints its path.
make_package() {
  rm -rf "$1/packages"
  cmake --build "$1" --target package >"$1/package.log" 2>&1 || { tail -n 30 "$1/package.log" >&2; return 1; }
  ls "$1"/packages/*."$2"
}

# same_files <what> <found> <expected>: the two lists of files hold the same names.
same_files() {
  diff <(sort "$2") <(sort "$3") >"$2.diff" && return 0
  echo "$1: not the files expected (< in the package, > expected but missing):"
  cat "$2.diff"
  return 1
}

# Runs an installed program as a user does, by its name through PATH, from a folder of
# its own; through the i386 launcher, which needs the program's path, where there is one.
run_installed() {  # run_installed <folder> <program> [arguments...]
  local folder=$1 program=$2
  shift 2
  if [ ${#i386_launcher[@]} -eq 0 ]; then
    (cd "$folder" && "$program" "$@")
  else
    (cd "$folder" && "${i386_launcher[@]}" "$(command -v "$program")" "$@")
  fi
}

debian_package() {
  local name="Debian package" dir=build/linux deb version libdir scratch problems=() program doc
  [ -x "$dir/bin/devado-host" ] || { fail "$name: not made: the Linux build failed"; return; }
  echo "== $name: making, listing, installing and running it"
  deb=$(make_package "$dir" deb) || { fail "$name: FAILED: cpack failed (log in $dir/package.log)"; return; }
  dpkg-deb -c "$deb" | tee "$dir/packages/contents.txt"
  libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$dir/CMakeCache.txt")
  awk '$1 !~ /^d/ {print $6}' "$dir/packages/contents.txt" >"$dir/packages/files.txt"
  {
    printf './usr/bin/%s\n' devado-host countnet-sim
    printf '%s\n' "./usr/${libdir:-lib}/devado/"{libdevado.so,libdov_pakt.so,libhevpro.so}
    printf './usr/share/man/man1/%s\n' devado-host.1 countnet-sim.1
    printf './usr/share/doc/devado/%s\n' README.md DEVADO01.int
    echo ./usr/lib/systemd/system/devado-host.service
    for doc in docs/*.md; do echo "./usr/share/doc/devado/${doc#docs/}"; done
  } >"$dir/packages/expected.txt"
  same_files "$name" "$dir/packages/files.txt" "$dir/packages/expected.txt" || problems+=("not the files expected")
  [ "$(dpkg-deb -f "$deb" Package)" = devado-tools ] || problems+=("package name is not devado-tools")
  [ "$(dpkg-deb -f "$deb" Architecture)" = i386 ] || problems+=("architecture is not i386")
  version=$(dpkg-deb -f "$deb" Version)

  # What the package holds, unpacked as a package's build tree (where dpkg-shlibdeps
  # expects it): the libraries that its programs and libraries need come from the packages
  # it depends on, as dpkg-shlibdeps finds them; the man pages render without a warning;
  # no file looks for libraries in the build tree.
  scratch=$(mktemp -d)
  local tree=$scratch/debian/devado-tools depends needed elf
  mkdir "$scratch/debian" "$scratch/run"
  dpkg-deb -R "$deb" "$tree"
  printf 'Source: devado\n\nPackage: devado-tools\nArchitecture: i386\n' >"$scratch/debian/control"
  depends=$(dpkg-deb -f "$deb" Depends)
  needed=$(cd "$scratch" && dpkg-shlibdeps -O debian/devado-tools/usr/bin/* \
    "debian/devado-tools/usr/${libdir:-lib}/devado"/* 2>"$root/$dir/packages/shlibdeps.log" |
    sed -n 's/^shlibs:Depends=//p')
  [ -n "$needed" ] && [ "$needed" = "$depends" ] ||
    problems+=("Depends is '$depends', but dpkg-shlibdeps finds '$needed' (log in $dir/packages/shlibdeps.log)")
  groff -man -ww -z "$tree"/usr/share/man/man1/*.1 2>"$dir/packages/man.log" && [ ! -s "$dir/packages/man.log" ] ||
    problems+=("the man pages have troff warnings: $(head -n 3 "$dir/packages/man.log" | tr '\n' ' ')")
  for elf in "$tree"/usr/bin/* "$tree/usr/${libdir:-lib}/devado"/*; do
    ! readelf -d "$elf" | grep -E 'R(UN)?PATH' | grep -qF "$root" ||
      problems+=("$(basename "$elf") looks for libraries in the build tree")
  done

  local installed="" line
  if dpkg -s devado-tools >/dev/null 2>&1; then
    installed="not installed: devado-tools is installed on this machine already, and stays as it is"
  elif [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
    installed="not installed: that needs root or password-less sudo"
  elif ! as_root dpkg -i "$deb" >"$dir/packages/install.log" 2>&1; then
    cat "$dir/packages/install.log"
    problems+=("dpkg -i failed (log in $dir/packages/install.log)")
    as_root dpkg --purge devado-tools >/dev/null 2>&1 || true
  else
    [ "$(command -v devado-host)" = /usr/bin/devado-host ] ||
      problems+=("PATH finds devado-host at '$(command -v devado-host)', not /usr/bin/devado-host")
    for program in devado-host countnet-sim; do
      line=$(run_installed "$scratch/run" "$program" --version 2>&1) || true
      echo "installed $program --version: $line"
      [ "$line" = "$program $version" ] || problems+=("installed $program --version says '$line'")
    done
    # Without --driver the installed runner finds the installed driver, loads it and shows
    # what the driver of the build tree shows.
    if run_installed "$scratch/run" devado-host --hex >"$dir/packages/hex-installed.txt" 2>&1 &&
      ${i386_launcher[@]+"${i386_launcher[@]}"} "$dir/bin/devado-host" --hex >"$dir/packages/hex-built.txt" &&
      cmp -s "$dir/packages/hex-installed.txt" "$dir/packages/hex-built.txt"; then
      echo "installed devado-host --hex: the installed driver loads ($(wc -l <"$dir/packages/hex-installed.txt") fields)"
    else
      head -n 3 "$dir/packages/hex-installed.txt"
      problems+=("the installed devado-host does not load the installed driver")
    fi
    # The service unit as systemd reads it, where the package put it.
    if command -v systemd-analyze >/dev/null; then
      systemd-analyze verify --man=no /usr/lib/systemd/system/devado-host.service \
        >"$dir/packages/unit.log" 2>&1 && ! grep -q . "$dir/packages/unit.log" ||
        problems+=("systemd finds fault with the service unit: $(head -n 2 "$dir/packages/unit.log" | tr '\n' ' ')")
    fi
    as_root dpkg --purge devado-tools >>"$dir/packages/install.log" 2>&1 && ! dpkg -s devado-tools >/dev/null 2>&1 &&
      [ ! -e /usr/bin/devado-host ] || problems+=("dpkg --purge left the package behind")
    installed="installed, both programs tell version $version, the runner loads the installed driver, removed again"
  fi
  rm -rf "$scratch"
  if [ ${#problems[@]} -eq 0 ]; then
    note "$name: $(basename "$deb"): the $(wc -l <"$dir/packages/files.txt") files expected,\
 Depends as dpkg-shlibdeps finds; $installed"
  else
    fail "$name: FAILED: $(printf '%s; ' "${problems[@]}" | sed 's/; $//')"
  fi
}

windows_package() {
  local name="Windows zip" dir=build/windows zip top version scratch problems=() line program doc
  [ -f "$dir/bin/devado-host.exe" ] || { fail "$name: not made: the Windows build failed"; return; }
  echo "== $name: making and listing it, and running it under Wine"
  zip=$(make_package "$dir" zip) || { fail "$name: FAILED: cpack failed (log in $dir/package.log)"; return; }
  unzip -l "$zip"
  top=$(basename "$zip" .zip)
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
  unzip -Z1 "$zip" | grep -v '/$' >"$dir/packages/files.txt"
  {
    echo "$top/DEVADO01.int"
    printf '%s\n' "$top/driver/"{devado.dll,dov_pakt.dll}
    printf '%s\n' "$top/tools/"{devado-host.exe,countnet-sim.exe,devado.dll,dov_pakt.dll,hevpro.dll}
    echo "$top/tools/README-tools.txt"
    echo "$top/docs/README.md"
    for doc in docs/*.md; do echo "$top/$doc"; done
  } >"$dir/packages/expected.txt"
  same_files "$name" "$dir/packages/files.txt" "$dir/packages/expected.txt" || problems+=("not the files expected")
  unzip -p "$zip" "$top/DEVADO01.int" | tr -d '\r' | cmp -s - docs/DEVADO01.int ||
    problems+=("its DEVADO01.int is not docs/DEVADO01.int")

  local ran
  if [ "$i386_native" -ne 1 ]; then
    ran="not run: this machine cannot run 32-bit programs natively (Wine needs that)"
  elif ! preflight_wine "$root/$dir/wineprefix"; then
    problems+=("Wine does not start")
  else
    scratch=$(mktemp -d)
    unzip -q "$zip" -d "$scratch"
    for program in devado-host countnet-sim; do
      line=$(cd "$scratch/$top" && wine "tools/$program.exe" --version </dev/null 2>&1 | tr -d '\r')
      echo "wine tools/$program.exe --version: $line"
      [ "$line" = "$program $version" ] || problems+=("tools/$program.exe --version says '$line'")
    done
    # The runner loads the driver beside it, with the DLLs of tools/, as the build does.
    (cd "$scratch/$top" && wine tools/devado-host.exe --hex </dev/null 2>&1 | tr -d '\r') >"$dir/packages/hex-zip.txt"
    if wine "$dir/bin/devado-host.exe" --hex </dev/null 2>&1 | tr -d '\r' | cmp -s - "$dir/packages/hex-zip.txt"; then
      echo "wine tools/devado-host.exe --hex: the driver in tools/ loads ($(wc -l <"$dir/packages/hex-zip.txt") fields)"
    else
      head -n 3 "$dir/packages/hex-zip.txt"
      problems+=("tools/devado-host.exe does not load the driver beside it")
    fi
    stop_wine
    rm -rf "$scratch"
    ran="unpacked and run under Wine: both programs tell version $version, the runner loads the driver in tools/"
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    note "$name: $(basename "$zip"): the $(wc -l <"$dir/packages/files.txt") files expected; $ran"
  else
    fail "$name: FAILED: $(printf '%s; ' "${problems[@]}" | sed 's/; $//')"
  fi
}

# The packages of both builds: made, listed and checked; the Debian package installed, its
# programs run and removed again; the Windows zip unpacked and its programs run under Wine.
packages_suite() {
  debian_package
  windows_package
}

trap stop_wine EXIT
linux_suite || true
timed "helgrind" helgrind_suite || true
asan_suite || true
fuzz_suite || true
windows_suite || true
timed "Debian package and Windows zip" packages_suite || true

echo "== Summary"
printf '%s\n' "${summary[@]}"
echo "stage times (total $((SECONDS / 60)) min $((SECONDS % 60)) s):"
printf '%s\n' "${stages[@]}"
echo "tests: $passed_tests passed, $failed_tests failed"
exit $failed
