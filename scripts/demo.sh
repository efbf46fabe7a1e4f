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

stop_simulator() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid"
    for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=
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

say "Stopping the simulator"
stop_simulator
trap - EXIT
echo "Done. Next: README.md for the C API, the CLI and the simulator; 'make test' runs the test suite."
