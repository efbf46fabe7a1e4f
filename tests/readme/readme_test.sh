#!/usr/bin/env bash
# Keeps README.md honest: every block marked <!-- from: PATH --> must stand
# verbatim in PATH (which the build compiles), and every command of the block
# marked <!-- run: cli -->, like every network example of morvent(1), must
# succeed against the simulated reader. The dock door (<!-- run: dock-door -->),
# run as written but on free ports, must print a direction event in and out.
# Arguments: SOURCE_DIR MORVENT MORVENT_SIM SCRATCH_DIR [MORVENTD]
set -euo pipefail
source=$1 tool=$2 sim=$3 scratch=$4 gateway=${5:-}
readme=$source/README.md
rm -rf "$scratch" && mkdir -p "$scratch"
sim_pid=
started=()  # the dock door's processes
cleanup() {
  for pid in $sim_pid "${started[@]}"; do kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The fenced block after the marker line number $1, into file $2.
block_after() {
  awk -v start="$1" 'NR > start && /^```/ { if (inside) exit; inside = 1; next } inside' "$readme" >"$2"
}

blocks=0
while IFS=: read -r line path; do
  path=${path# }; path=${path% -->}
  block_after "$line" "$scratch/block"
  blocks=$((blocks + 1))
  # Verbatim: the block's lines appear consecutively in the file.
  content=$(<"$source/$path") block=$(<"$scratch/block")
  if [ -z "$block" ] || [[ $content != *"$block"* ]]
  then fail "README block at line $line differs from $path"; fi
done < <(grep -n '^<!-- from: ' "$readme" | sed 's/<!-- from://')
[ "$blocks" -ge 2 ] || fail "found only $blocks example blocks"

"$sim" --tcp 0 --pty "$scratch/com3" --run-for 600 >"$scratch/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q 'tcp=' "$scratch/sim.out" && break; sleep 0.1; done
port=$(sed -n 's/.*tcp=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/sim.out")
[ -n "$port" ] || { fail "simulator did not start"; exit 1; }

block_after "$(grep -n '^<!-- run: cli -->' "$readme" | cut -d: -f1)" "$scratch/cli"
commands=0
while read -r command; do
  commands=$((commands + 1))
  line=${command#\$ }
  line=${line//127.0.0.1:6000/127.0.0.1:$port}
  line=${line//\/tmp\/com3/$scratch/com3}
  line=" $line"
  line=${line// morvent / $tool }
  if ! timeout 60 bash -c "$line" >"$scratch/out" 2>&1; then
    fail "README command failed: $command"
    cat "$scratch/out" >&2
  fi
done < <(grep '^\$ ' "$scratch/cli")
[ "$commands" -ge 5 ] || fail "found only $commands commands"
# So must the network examples of morvent(1).
examples=0
while read -r command; do
  examples=$((examples + 1))
  line=" ${command//localhost:6000/localhost:$port}"
  timeout 60 bash -c "cd '$scratch' && ${line// morvent / $tool }" >"$scratch/out" 2>&1 ||
    { fail "morvent(1) example failed: $command"; cat "$scratch/out" >&2; }
done < <(sed -n 's/\\-/-/g; s/^  \(morvent --tcp .*\)$/\1/p' "$source/docs/man/morvent.h2m")
[ "$examples" -ge 3 ] || fail "found only $examples examples in morvent(1)"
# The scenario example loads and gives the reader and tag it describes.
block_after "$(grep -n '^<!-- scenario -->' "$readme" | cut -d: -f1)" "$scratch/scenario.json"
"$sim" --tcp 0 --scenario "$scratch/scenario.json" --run-for 600 >"$scratch/scenario.out" 2>&1 &
scenario_pid=$!
for _ in $(seq 100); do grep -q 'tcp=' "$scratch/scenario.out" && break; sleep 0.1; done
scenario_port=$(sed -n 's/.*tcp=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/scenario.out")
if [ -z "$scenario_port" ]; then
  fail "the README scenario did not load: $(cat "$scratch/scenario.out")"
else
  "$tool" --tcp "127.0.0.1:$scenario_port" inventory >"$scratch/scenario-tags" 2>&1 || true
  grep -q 'E20000000000000000000042' "$scratch/scenario-tags" || fail "the README scenario's tag is missing"
  "$tool" --tcp "127.0.0.1:$scenario_port" info >"$scratch/scenario-info" 2>&1 || true
  grep -q 'reader address  0x03' "$scratch/scenario-info" || fail "the README scenario's address is not 3"
fi
kill -TERM "$scenario_pid" 2>/dev/null || true
wait "$scenario_pid" 2>/dev/null || true

# The dock door: its commands as written, on free ports, with its own broker.
if [ -n "$gateway" ] && command -v mosquitto >/dev/null; then
  read -r mqtt yard hall < <(python3 -c 'import socket
s = [socket.socket() for _ in range(3)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
  on_ports() { sed "s/:1883/:$mqtt/; s/6001/$yard/; s/6002/$hall/"; }
  printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt" >"$scratch/dock-mosquitto.conf"
  mosquitto -c "$scratch/dock-mosquitto.conf" >"$scratch/dock-mosquitto.log" 2>&1 & started+=($!)
  on_ports <"$source/gateway/dock-door.example.toml" | sed 's/^\[gateway\]$/&\nhttp = ""/' >"$scratch/dock-door.toml"
  mapfile -t dock < <(block_after "$(grep -n '^<!-- run: dock-door -->' "$readme" | cut -d: -f1)" /dev/stdout | sed -n 's/^\$ //p' | on_ports)
  [ "${#dock[@]}" -eq 3 ] || fail "the dock door has ${#dock[@]} commands, not 3"
  sleep 0.5
  (cd "$scratch" && exec ${dock[0]/morvent-sim/$sim} --run-for 120) >"$scratch/dock-sim.out" 2>&1 & started+=($!)
  (cd "$scratch" && exec ${dock[1]/morventd/$gateway}) >"$scratch/dock-gateway.out" 2>&1 & started+=($!)
  eval "timeout 90 ${dock[2]} -p $mqtt -C 2 -W 60" >"$scratch/dock-events" 2>&1 || true
  [ "$(grep -o '"portal":"Dock door 3","direction":"[inout]*"' "$scratch/dock-events" | sort -u | wc -l)" -eq 2 ] ||
    { fail "the dock door printed no direction in and out"; cat "$scratch/dock-events" "$scratch/dock-gateway.out" >&2; }
fi

echo "README: $blocks example blocks, $commands commands, $examples manual examples and the scenario checked, $failures failures"
[ "$failures" -eq 0 ]
