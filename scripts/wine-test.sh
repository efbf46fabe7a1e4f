#!/usr/bin/env bash
# Runs the Windows test suites under Wine: one fresh Wine prefix for the run,
# the Linux fake-reader server beside it, then ctest in the Windows build.
# Usage: scripts/wine-test.sh WINDOWS_BUILD_DIR FAKE_SERVER_PROGRAM
set -euo pipefail

win_build=$(realpath "$1")
fake_server=$(realpath "$2")

WINEPREFIX=$(mktemp -d /tmp/morvent-wine.XXXXXX)
export WINEPREFIX
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree=;mshtml="

server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "wine-test: creating the Wine prefix $WINEPREFIX"
timeout 300 wineboot --init >/dev/null 2>&1
wineserver -w
# One server for the whole run, its diagnostics kept out of the test output,
# and Wine's own background services started now, detached from the output
# that ctest reads (a service inheriting it would keep ctest waiting).
wineserver -p >"$WINEPREFIX/wineserver.log" 2>&1
timeout 120 wineboot >/dev/null 2>&1 </dev/null

# The server prints its port, then serves until it is killed.
port_file="$WINEPREFIX/fake-server.port"
"$fake_server" >"$port_file" &
server_pid=$!
for _ in $(seq 100); do
  [ -s "$port_file" ] && break
  sleep 0.1
done
MORVENT_FAKE_SERVER=$(head -n1 "$port_file")
export MORVENT_FAKE_SERVER
[ -n "$MORVENT_FAKE_SERVER" ] || { echo "wine-test: the fake-reader server did not start" >&2; exit 1; }

# One suite at a time: the COM device links of the prefix are shared.
cd "$win_build"
ctest --output-on-failure -j1
