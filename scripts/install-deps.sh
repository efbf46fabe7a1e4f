#!/usr/bin/env bash
# Installs the Debian packages a build needs; installs nothing when they are
# all present, so it is cheap to run every time. Groups: the native build and
# its tests (always), `fuzz` (clang and its runtimes), `windows` (MinGW-w64,
# GoogleTest sources, Wine), `package` (the Debian packaging tools), `mutate`
# (the mutation check), `all`.
#   scripts/install-deps.sh [fuzz|windows|package|mutate|all]...
set -euo pipefail

native=(
  cmake ninja-build g++ libgtest-dev
  nlohmann-json3-dev        # the simulated reader's scenario files, the tool's JSON
  libcli11-dev              # the tool's command line
  openjdk-17-jdk-headless   # the Java bridge: javac, jar, JNI headers; the tests run a JVM
  pkgconf                   # the install test builds a consumer with pkg-config
  openssl                   # the gateway test makes a CA and a broker certificate
  python3 python3-pytest    # the Python package and its tests
  python3-setuptools python3-pip python3-venv  # `pip install ./python` in the install test
  libbenchmark-dev          # the benchmark programs (make bench)
  help2man pandoc           # the manual pages
  # morventd: its spool, configuration, MQTT client, HTTP endpoint and command line;
  # the gateway tests and the demo run a real broker and its clients
  libsqlite3-dev libtomlplusplus-dev libmosquitto-dev libcpp-httplib-dev libcli11-dev
  mosquitto mosquitto-clients
  chromium chromium-driver python3-selenium  # the dashboard's tests in a headless browser
  curl                      # make demo shows the dashboard's API
)
fuzz=(clang-14 libclang-rt-14-dev)
package=(dpkg-dev file lintian man-db)
windows=(g++-mingw-w64-x86-64-posix googletest wine wine64)
mutate=(python3 git ccache)   # the script, the tree's file list, rebuilds from cache

packages=("${native[@]}")
for group in "$@"; do
  case "$group" in
    fuzz) packages+=("${fuzz[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    package) packages+=("${package[@]}") ;;
    mutate) packages+=("${mutate[@]}") ;;
    all) packages+=("${fuzz[@]}" "${windows[@]}" "${package[@]}" "${mutate[@]}") ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
