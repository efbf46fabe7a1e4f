#!/bin/sh
# Installs the Debian packages the build and the tests need. Safe to run again.
set -e
if [ "$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi
PACKAGES="cmake ninja-build g++ libgtest-dev nlohmann-json3-dev"
# The fuzz targets: clang 14 with its libFuzzer and sanitizer runtimes.
PACKAGES="$PACKAGES clang-14 libclang-rt-14-dev"
missing=
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
