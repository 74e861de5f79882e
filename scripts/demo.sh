#!/usr/bin/env bash
# The demo: builds the driver, the host runner and the station simulator, and lets the
# runner commission three simulated CountNet stations for a minute, with the live view.
# Its own notes go to standard error, so that --json output stays a clean stream.
# The second station goes silent after 18 s and comes back 14 s later: the driver reports
# its link failed after six silent update periods, its re-open thread connects it again,
# the link is reported restored and the data returns. The run ends by itself: the driver
# is ended and a summary printed.
#
#   demo.sh [--wine] [devado-host options...]
#
# --wine runs the Windows build of the driver and the runner under Wine (the simulator
# runs natively). Other arguments go to devado-host, e.g. --plain or --json.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}

wine=0
args=()
for arg in "$@"; do
  if [ "$arg" = --wine ]; then wine=1; else args+=("$arg"); fi
done

if [ $wine -eq 1 ]; then ./scripts/install-deps.sh; else ./scripts/install-deps.sh linux; fi
mkdir -p build
cmake -S . -B build/demo -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake \
  -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF >build/demo.configure.log 2>&1 ||
  { cat build/demo.configure.log; exit 1; }
cmake --build build/demo -j"$jobs" --target devado devado-host countnet-sim >/dev/null
host=("$root/build/demo/bin/devado-host")
if [ $wine -eq 1 ]; then
  cmake -S . -B build/demo-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
    -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF >build/demo-windows.configure.log 2>&1 ||
    { cat build/demo-windows.configure.log; exit 1; }
  cmake --build build/demo-windows -j"$jobs" --target devado devado-host >/dev/null
  export WINEPREFIX="$root/build/demo-windows/wineprefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml="
  # The server is started first and detached, so that no Wine helper holds on to the
  # terminal or to our output after the run.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot -i </dev/null >/dev/null 2>&1
  host=(wine "$root/build/demo-windows/bin/devado-host.exe")
fi

# The run folder: the driver reads its init file from the host's current directory.
run=build/demo-run
mkdir -p "$run"
cat >"$run/DEVADO01.int" <<'EOF'
UPDATE RATE = 1
001 = 127.0.0.71
002 = 127.0.0.72
003 = 127.0.0.73
EOF
{
  echo "# The demo's tags: each station's size channels and its air-flow tag."
  for c in 0 1 2 3 4 5; do echo "001F000$c float"; done
  echo "001AIR_FLOW unsigned16"
  for c in 0 1 2 3 4 5 6 7; do echo "002F000$c float"; done
  echo "002AIR_FLOW unsigned16"
  for c in 0 1 2 3; do echo "003F000$c float"; done
  echo "003AIR_FLOW signed16"
} >"$run/tags.txt"

sim_pid=""
stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
  if [ $wine -eq 1 ]; then wineserver -k 2>/dev/null || true; fi
}
trap stop_simulator EXIT
trap 'stop_simulator; exit 130' INT TERM

# Three counters with different count profiles; station 2 goes silent for a while.
build/demo/bin/countnet-sim --no-stdin \
  --address 127.0.0.71 --channels 6 --volume 2832 --seed 11 \
  --address 127.0.0.72 --channels 8 --volume 28317 --exponent 1 --seed 22 \
  --silent-from 18 --silent-for 14 \
  --address 127.0.0.73 --channels 4 --volume 1000 --seed 33 \
  >"$run/sim.log" 2>&1 </dev/null &
sim_pid=$!
for _ in $(seq 50); do
  [ "$(grep -c 'listening on port' "$run/sim.log" || true)" -ge 3 ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$run/sim.log"; exit 1; }
  sleep 0.1
done

echo "Stations 1-3 on 127.0.0.71-73 (simulated, log in $run/sim.log); station 2 goes silent" >&2
echo "after 18 s for 14 s. The driver's log goes to $run/driver.log." >&2
cd "$run"
rc=0
if [ $wine -eq 0 ]; then
  "${host[@]}" --tags tags.txt --duration 60 --log driver.log "${args[@]}" || rc=$?
else
  # Wine's console shows neither ANSI sequences nor UTF-8. Through a pipe the runner's
  # output reaches the terminal as it is; the live view is then asked for by name, with
  # the terminal's size.
  live=()
  if [ -t 1 ]; then
    read -r LINES COLUMNS < <(stty size </dev/tty 2>/dev/null || echo "24 80")
    export LINES COLUMNS
    live=(--live)
  fi
  "${host[@]}" --tags tags.txt --duration 60 --log driver.log "${live[@]}" "${args[@]}" </dev/null |
    cat || rc=$?
fi
cd "$root"
stop_simulator
exit $rc
