#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; installs
# nothing when they are all present, so it is cheap to run every time.
# Add a package by adding a line to the list.
set -euo pipefail

packages=(
  # Native build and tests
  cmake
  ninja-build
  g++
  libgtest-dev
  # The simulated reader's scenario files
  nlohmann-json3-dev
  # The Java bridge: javac, jar and the JNI headers; the tests run a JVM
  openjdk-17-jdk-headless
  # The install test builds a consumer with pkg-config
  pkgconf
  # Fuzzing: clang with the libFuzzer and sanitizer runtimes
  clang-14
  libclang-rt-14-dev
  # Windows build (MinGW-w64), GoogleTest from source, Wine to run the suites
  g++-mingw-w64-x86-64-posix
  googletest
  wine
  wine64
)

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
