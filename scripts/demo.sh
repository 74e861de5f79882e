#!/usr/bin/env bash
# The demo: builds the driver, the host runner and the station simulator, and lets the
# runner commission three simulated CountNet stations for a minute, with the live view.
# Its own notes go to standard error, so that --json output stays a clean stream.
# The second station goes silent after 18 s and comes back 14 s later: the driver reports
# its link failed after six silent update periods, its re-open thread connects it again,
# the link is reported restored and the data returns. The run ends by itself: the driver
# is ended and a summary printed.
#
#   demo.sh [--wine] [--mqtt] [devado-host options...]
#
# --wine runs the Windows build of the driver and the runner under Wine (the simulator
# runs natively). --mqtt starts a mosquitto broker on a loopback address too, has the
# runner publish every sample and link change to it through a store on disk
# (--mqtt-store), stops the broker for 15 s halfway and starts it again, and shows
# afterwards what a subscriber received (every sample of every station, those that
# waited in the store marked historical) and the topic tree as a late subscriber sees
# it. Other arguments go to devado-host, e.g. --plain or --json.
#
# On a machine whose kernel cannot run i386 programs they run through qemu-user (see
# preflight.sh); --wine cannot run there and says so. DEVADO_EMULATE=1 takes the emulated
# path on any machine. The stations' addresses are checked first; when another program
# holds one, the demo draws three others from 127.0.0.0/8.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
# shellcheck source=scripts/preflight.sh
source scripts/preflight.sh

wine=0
mqtt=0
args=()
for arg in "$@"; do
  case $arg in
    --wine) wine=1 ;;
    --mqtt) mqtt=1 ;;
    *) args+=("$arg") ;;
  esac
done

./scripts/install-deps.sh linux >&2
if [ $mqtt -eq 1 ]; then
  if [ $wine -eq 1 ]; then
    echo "demo --wine --mqtt: the Windows build of the runner has no MQTT support; run" \
      "./scripts/demo.sh --mqtt without --wine." >&2
    exit 1
  fi
  ./scripts/install-deps.sh mqtt >&2
fi
preflight_i386 >&2 || exit 1
if [ $wine -eq 1 ]; then
  if [ "$i386_native" -ne 1 ]; then
    echo "demo --wine: cannot run here: this machine cannot run 32-bit programs natively, and" \
      "Wine does not run under qemu-user. Run ./scripts/demo.sh without --wine." >&2
    exit 1
  fi
  ./scripts/install-deps.sh tests wine >&2
fi
mkdir -p build
echo "building the driver, the runner and the simulator (about a minute)..." >&2
cmake -S . -B build/demo -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake \
  -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF >build/demo.configure.log 2>&1 ||
  { cat build/demo.configure.log >&2; exit 1; }
cmake --build build/demo -j"$jobs" --target devado devado-host countnet-sim \
  >build/demo.build.log 2>&1 || { tail -n 60 build/demo.build.log >&2; exit 1; }
launcher=(${i386_launcher[@]+"${i386_launcher[@]}"})
host=(${launcher[@]+"${launcher[@]}"} "$root/build/demo/bin/devado-host")
sim=(${launcher[@]+"${launcher[@]}"} "$root/build/demo/bin/countnet-sim")
if [ $wine -eq 1 ]; then
  echo "building the Windows driver and runner (about a minute)..." >&2
  cmake -S . -B build/demo-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
    -DDEVADO_TESTS=OFF -DDEVADO_BENCH=OFF >build/demo-windows.configure.log 2>&1 ||
    { cat build/demo-windows.configure.log >&2; exit 1; }
  cmake --build build/demo-windows -j"$jobs" --target devado devado-host \
    >build/demo-windows.build.log 2>&1 || { tail -n 60 build/demo-windows.build.log >&2; exit 1; }
  trap stop_wine EXIT
  preflight_wine "$root/build/demo-windows/wineprefix" >&2 || exit 1
  host=(wine "$root/build/demo-windows/bin/devado-host.exe")
fi

# The run folder: the driver reads its init file from the host's current directory.
run=build/demo-run
mkdir -p "$run"
write_run_files() {  # write_run_files <address1> <address2> <address3>
  printf 'UPDATE RATE = 1\n001 = %s\n002 = %s\n003 = %s\n' "$1" "$2" "$3" >"$run/DEVADO01.int"
  {
    echo "# The demo's tags: each station's size channels and its air-flow tag."
    for c in 0 1 2 3 4 5; do echo "001F000$c float"; done
    echo "001AIR_FLOW unsigned16"
    for c in 0 1 2 3 4 5 6 7; do echo "002F000$c float"; done
    echo "002AIR_FLOW unsigned16"
    for c in 0 1 2 3; do echo "003F000$c float"; done
    echo "003AIR_FLOW signed16"
  } >"$run/tags.txt"
}

sim_pid=""
broker_pid=""
sub_pid=""
outage_pid=""
stop_simulator() {
  local pid
  # The outage restarts the broker on its own: its pid is in a file.
  [ -z "$outage_pid" ] || kill "$outage_pid" 2>/dev/null || true
  [ ! -s "${run:-/nonexistent}/broker.pid" ] || kill "$(cat "$run/broker.pid")" 2>/dev/null || true
  for pid in "$outage_pid" "$sim_pid" "$sub_pid" "$broker_pid"; do
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  sim_pid=""
  sub_pid=""
  broker_pid=""
  outage_pid=""
  if [ $wine -eq 1 ]; then stop_wine; fi
}
trap stop_simulator EXIT
trap 'stop_simulator; exit 130' INT TERM

# Three counters with different count profiles; station 2 goes silent for a while.
# Returns the simulator's status when it ends early: 3 when another program holds one of
# the addresses.
start_simulator() {  # start_simulator <address1> <address2> <address3>
  "${sim[@]}" --no-stdin \
    --address "$1" --channels 6 --volume 2832 --seed 11 \
    --address "$2" --channels 8 --volume 28317 --exponent 1 --seed 22 \
    --silent-from 18 --silent-for 14 \
    --address "$3" --channels 4 --volume 1000 --seed 33 \
    >"$run/sim.log" 2>&1 </dev/null &
  sim_pid=$!
  for _ in $(seq 300); do
    [ "$(grep -c 'listening on port' "$run/sim.log" || true)" -ge 3 ] && return 0
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      local rc=0
      wait "$sim_pid" || rc=$?
      sim_pid=""
      return $rc
    fi
    sleep 0.1
  done
  echo "the simulator did not start within 30 s:" >&2
  cat "$run/sim.log" >&2
  return 1
}

base=127.0.0
for attempt in 1 2 3 4; do
  addresses=("$base.71" "$base.72" "$base.73")
  rc=0
  start_simulator "${addresses[@]}" || rc=$?
  [ $rc -eq 0 ] && break
  cat "$run/sim.log" >&2
  if [ $rc -ne 3 ] || [ $attempt -eq 4 ]; then exit 1; fi
  base=127.$((RANDOM % 254 + 1)).$((RANDOM % 256))
  echo "trying the stations on $base.71-73 instead" >&2
done
write_run_files "${addresses[@]}"

# The plant's broker, on the loopback address beside the stations: the first of a few
# ports that nothing holds there. A subscriber takes everything the runner publishes.
mqtt_args=()
mqtt_prefix=devado/demo
start_broker() {  # start_broker <address>
  local port
  for port in 1883 18830 18831 18832 18833; do
    {
      echo "listener $port $1"
      echo "allow_anonymous true"
      # The subscriber's session and what waits for it outlive the outage.
      echo "persistence true"
      echo "persistence_location $run/"
      # Run as root, the broker would become the user mosquitto.
      [ "$(id -u)" -ne 0 ] || echo "user root"
    } >"$run/broker.conf"
    /usr/sbin/mosquitto -c "$run/broker.conf" >"$run/broker.log" 2>&1 &
    broker_pid=$!
    for _ in $(seq 50); do
      if (exec 3<>"/dev/tcp/$1/$port") 2>/dev/null; then
        broker="$1:$port"
        return 0
      fi
      kill -0 "$broker_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=""
  done
  echo "the MQTT broker did not start on $1 (log in $run/broker.log):" >&2
  cat "$run/broker.log" >&2
  return 1
}
if [ $mqtt -eq 1 ]; then
  start_broker "${addresses[0]%.*}.70" || exit 1
  # A historian's subscriber: a session the broker keeps, so that nothing published while
  # it reconnects after the outage is lost for it.
  mosquitto_sub -h "${broker%:*}" -p "${broker##*:}" -t "$mqtt_prefix/#" -v -q 1 \
    -c -i devado-demo-historian >"$run/mqtt.log" 2>&1 </dev/null &
  sub_pid=$!
  rm -f "$run/samples.db" "$run/samples.db-wal" "$run/samples.db-shm"
  mqtt_args=(--mqtt "$broker" --mqtt-prefix "$mqtt_prefix" --mqtt-store samples.db)
  echo "MQTT broker on $broker; a subscriber writes every message under $mqtt_prefix/ to" \
    "$run/mqtt.log." >&2
fi

# The broker goes away for 15 s halfway through the run (as for maintenance) and comes
# back on the same port; the runner keeps the samples in its store meanwhile.
broker_outage() {
  cd "$root"
  sleep 30
  kill "$broker_pid" 2>/dev/null || true
  sleep 15
  /usr/sbin/mosquitto -c "$run/broker.conf" >>"$run/broker.log" 2>&1 &
  echo $! >"$run/broker.pid"
  wait
}

# Each station's samples as the subscriber received them: their sequence numbers must be
# 1, 2, 3, ... without a gap, whatever order they came in.
check_sequences() {
  awk '/\/sample / {
      station = $0; sub(/.*"station":/, "", station); sub(/,.*/, "", station); station += 0
      sequence = $0; sub(/.*"sequence":/, "", sequence); sub(/,.*/, "", sequence); sequence += 0
      seen[station, sequence] = 1; if (sequence > top[station]) top[station] = sequence
      if ($0 ~ /"historical":true/) historical++
    }
    END {
      for (s in top) {
        missing = 0
        for (n = 1; n <= top[s]; n++) if (!((s, n) in seen)) missing++
        printf "station %d: samples 1 to %d, %s\n", s, top[s], missing ? missing " missing" : "none missing"
        gaps += missing
      }
      printf "%d of them replayed from the store after the outage, marked \"historical\":true\n", historical
      exit gaps > 0
    }' "$run/mqtt.log"
}

# What a subscriber received, and the state that the broker keeps for a late one.
show_mqtt() {
  local samples links
  [ $mqtt -eq 1 ] || return 0
  sleep 1  # the subscriber takes the last messages
  samples=$(grep -c '/sample ' "$run/mqtt.log" || true)
  links=$(grep -c '/link ' "$run/mqtt.log" || true)
  echo
  echo "== MQTT: the subscriber received $samples samples and $links link messages" \
    "(all in $run/mqtt.log); the broker was away for 15 s halfway:"
  check_sequences || echo "samples are missing"
  echo "== The last samples:"
  grep '/sample ' "$run/mqtt.log" | tail -n 3
  echo "== The status and link messages as they came:"
  grep -E '/(status|link) ' "$run/mqtt.log" || true
  echo "== The topic tree as a late subscriber sees it now (retained messages):"
  mosquitto_sub -h "${broker%:*}" -p "${broker##*:}" -t "$mqtt_prefix/#" -v \
    --retained-only -W 2 2>/dev/null || true
}

echo "Stations 1-3 on ${addresses[0]}-${addresses[2]##*.} (simulated, log in $run/sim.log);" \
  "station 2 goes silent after 18 s for 14 s. The driver's log goes to $run/driver.log." >&2
cd "$run"
rc=0
# With the outage the run is longer: the runner tries the broker again after pauses of 1,
# 2, 4, 8 and 16 s, and then replays what waited in its store.
duration=60
if [ $mqtt -eq 1 ]; then
  broker_outage &
  outage_pid=$!
  duration=80
  echo "The MQTT broker stops 30 s into the run and starts again 15 s later; the run takes" \
    "$duration s." >&2
fi
if [ $wine -eq 0 ]; then
  "${host[@]}" --tags tags.txt --duration "$duration" --log driver.log \
    ${mqtt_args[@]+"${mqtt_args[@]}"} ${args[@]+"${args[@]}"} || rc=$?
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
  "${host[@]}" --tags tags.txt --duration 60 --log driver.log ${live[@]+"${live[@]}"} \
    ${args[@]+"${args[@]}"} </dev/null | cat || rc=$?
fi
cd "$root"
show_mqtt
stop_simulator
exit $rc
