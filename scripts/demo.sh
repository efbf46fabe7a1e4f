#!/usr/bin/env bash
# A narrated first session with the kit: starts the simulated reader on a
# free TCP port and a pseudo-terminal, drives it with the morvent tool and the
# Java example, then stops it. Argument: an installed tree (bin/, lib/,
# share/java/), as `make demo` stages it.
set -euo pipefail

stage=$(cd "${1:?usage: demo.sh INSTALLED_TREE}" && pwd)
bin=$stage/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/morvent-demo.XXXXXX")
sim_pid=

gateway_pids=()

stop_pid() {
  if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
    kill -TERM "$1"
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null || true
  fi
}

stop_simulator() {
  stop_pid "$sim_pid"
  sim_pid=
  for pid in "${gateway_pids[@]}"; do stop_pid "$pid"; done
  gateway_pids=()
  rm -rf "$work"
}
trap stop_simulator EXIT

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
# Shows the command as a user would type it, then runs it.
run() {
  printf '$ %s\n' "$*" | sed "s|$bin/||g"
  "$@"
}

say "Starting the simulated reader (morvent-sim) on a free TCP port and a pty"
"$bin/morvent-sim" --tcp 0 --pty "$work/com3" --run-for 600 >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q 'tcp=' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
cat "$work/sim.out"
port=$(sed -n 's/.*tcp=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")
[ -n "$port" ] || { echo "the simulator did not start" >&2; exit 1; }
tcp=127.0.0.1:$port

say "1. Who is there? The reader's information, over TCP"
run "$bin/morvent" --tcp "$tcp" info

say "2. The tags in the field, over TCP"
run "$bin/morvent" --tcp "$tcp" inventory

say "3. The same inventory over the serial line: COM3 is the pty, named by MORVENT_COM3"
export MORVENT_COM3=$work/com3
printf '$ export MORVENT_COM3=%s\n' "$MORVENT_COM3"
run "$bin/morvent" --com 3 inventory --json

say "4. Write two words to a tag's user memory and read them back"
epc=E20034120123456789ABCDEF
run "$bin/morvent" --tcp "$tcp" write --epc "$epc" --bank user --ptr 4 --data CAFEF00D
run "$bin/morvent" --tcp "$tcp" read --epc "$epc" --bank user --ptr 4 --count 2

say "5. A tag that refuses: the access password is wrong (status shown by name, number and meaning)"
run "$bin/morvent" --tcp "$tcp" read --epc 300011112222333344445555 --bank reserved --count 4 --password 00000001 || true

say "6. Change a setting and read it back"
run "$bin/morvent" --tcp "$tcp" config set scan-time 20
run "$bin/morvent" --tcp "$tcp" config get scan-time power

say "7. The Java example against the same reader"
if command -v java >/dev/null && [ -f "$stage/share/java/Tessaly.jar" ]; then
  run java -Djava.library.path="$stage/lib" \
    -cp "$stage/share/java/Tessaly.jar:$stage/share/java/TessalyExample.jar" InventoryExample 127.0.0.1 "$port"
else
  echo "(skipped: no Java runtime or no Java bridge in this build)"
fi

say "8. The gateway: morventd reads two readers continuously and publishes tag events over MQTT"
if command -v mosquitto >/dev/null || [ -x /usr/sbin/mosquitto ]; then
  broker=$(command -v mosquitto || echo /usr/sbin/mosquitto)
  mqtt_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" >"$work/mosquitto.conf"
  "$broker" -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
  gateway_pids+=($!)
  echo "(a mosquitto broker on 127.0.0.1:$mqtt_port; two simulated readers whose tags pass by, 2 a second)"
  for reader in 1 2; do
    "$bin/morvent-sim" --tcp 0 --arrive-rate 2 --stay 1-3 --run-for 120 >"$work/gw-sim$reader.out" 2>&1 &
    gateway_pids+=($!)
  done
  for reader in 1 2; do
    for _ in $(seq 100); do grep -q 'tcp=' "$work/gw-sim$reader.out" 2>/dev/null && break; sleep 0.1; done
  done
  port1=$(sed -n 's/.*tcp=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/gw-sim1.out")
  port2=$(sed -n 's/.*tcp=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/gw-sim2.out")
  http_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$work/morventd.toml" <<EOF
[gateway]
id = "demo"
spool = "$work/spool.db"
http = "127.0.0.1:$http_port"
[mqtt]
url = "mqtt://127.0.0.1:$mqtt_port"
prefix = "morvent"
[events]
report_every_s = 5
depart_after_s = 1
[[reader]]
name = "door-a"
tcp = "127.0.0.1:$port1"
poll_interval_ms = 100
[[reader]]
name = "door-b"
tcp = "127.0.0.1:$port2"
poll_interval_ms = 100
EOF
  printf '$ cat morventd.toml\n'
  sed 's|^|    |' "$work/morventd.toml"
  run "$bin/morventd" --check-config "$work/morventd.toml"
  echo '$ mosquitto_sub -v -t "morvent/#"   # in another terminal, for 6 seconds'
  if command -v mosquitto_sub >/dev/null; then
    mosquitto_sub -p "$mqtt_port" -v -t 'morvent/#' -W 6 >"$work/events.txt" 2>&1 &
    sub_pid=$!
  fi
  sleep 0.3
  printf '$ morventd --config morventd.toml\n'
  "$bin/morventd" --config "$work/morventd.toml" 2>"$work/morventd.log" &
  morventd_pid=$!
  gateway_pids+=("$morventd_pid")
  echo "The dashboard (readers, live tags, read rates, tag and reader forms): http://127.0.0.1:$http_port/"
  echo "  (set DEMO_DASHBOARD_S=120 to keep the gateway running that long and open it in a browser)"
  sleep 3
  if command -v curl >/dev/null; then
    printf '$ curl -s http://127.0.0.1:%s/api/readers\n' "$http_port"
    curl -s "http://127.0.0.1:$http_port/api/readers" | python3 -c 'import json, sys
for r in json.load(sys.stdin):
    print("    %s: %s since %s, %.0f reads/s, %d tags in view"
          % (r["name"], r["state"], r["since"], r["reads_per_s"], r["tags_in_view"]))' || true
  fi
  sleep "${DEMO_DASHBOARD_S:-2}"
  stop_pid "$morventd_pid"
  sed 's|^|  |' "$work/morventd.log"
  if [ -n "${sub_pid:-}" ]; then
    wait "$sub_pid" 2>/dev/null || true
    echo "What the subscriber saw: $(grep -c '/events ' "$work/events.txt") events; the reader states, the first events and the first departures:"
    grep -m 4 '/status ' "$work/events.txt" || true
    grep -m 6 '/events ' "$work/events.txt" || true
    grep -m 3 '"type":"depart"' "$work/events.txt" || true
  fi
else
  echo "(skipped: no mosquitto broker installed; scripts/install-deps.sh installs it)"
fi

say "Stopping the simulator"
stop_simulator
trap - EXIT
echo "Done. Next: README.md for the C API, the CLI and the simulator; 'make test' runs the test suite."
