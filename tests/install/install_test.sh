#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds the C example against it
# with find_package(Morvent) and with pkg-config and the C++ example with
# find_package(Morvent), and runs them, and the
# installed tool, against the installed simulator.
# Arguments: BUILD_DIR SOURCE_DIR SCRATCH_DIR
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
prefix=$scratch/prefix
sim_pid=
cleanup() { if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
for file in include/morvent.h include/morvent.hpp include/morvent/epc.hpp include/morvent/reader.hpp \
            include/morvent/impl/reader_inl.hpp lib/libMorvent.so bin/morvent bin/morvent-sim lib/pkgconfig/morvent.pc \
            lib/cmake/Morvent/MorventConfig.cmake; do
  [ -e "$prefix/$file" ] || fail "$file not installed"
done
if [ -e "$build/libTessaly.so" ]; then
  for file in lib/libTessaly.so share/java/Tessaly.jar share/java/TessalyExample.jar share/java/MorventExample.jar; do
    [ -e "$prefix/$file" ] || fail "$file not installed"
  done
fi
# The shipped library holds product code only: no in-memory test device.
if nm -C "$prefix/lib/libMorvent.so" | grep -q 'memdev'; then fail "libMorvent.so holds the in-memory test device"; fi
# The gateway: its programs, the systemd unit naming the installed program, the sample configuration.
if [ -e "$build/gateway/morventd" ]; then
  for file in bin/morventd libexec/morventd/morventd-worker lib/systemd/system/morventd.service \
              etc/morvent/morventd.toml.example; do
    [ -e "$prefix/$file" ] || fail "$file not installed"
  done
  grep -q "^ExecStart=$prefix/bin/morventd --config " "$prefix/lib/systemd/system/morventd.service" \
    || fail "the systemd unit does not start the installed morventd"
  "$prefix/bin/morventd" --check-config "$prefix/etc/morvent/morventd.toml.example" >"$scratch/check.out" \
    || fail "the sample configuration does not check"
  "$prefix/libexec/morventd/morventd-worker" --name x --tcp 127.0.0.1:1 --colour red 2>"$scratch/worker.err" \
    && fail "the worker accepted an unknown option"
  grep -q "unknown option --colour" "$scratch/worker.err" || fail "the installed worker does not run: $(cat "$scratch/worker.err")"
fi

# Nothing below may reach into the build tree.
"$prefix/bin/morvent-sim" --tcp 0 --run-for 600 >"$scratch/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q 'tcp=' "$scratch/sim.out" && break; sleep 0.1; done
port=$(sed -n 's/.*tcp=127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/sim.out")
[ -n "$port" ] || fail "simulator did not start"
expect_tag() { grep -q 'E20034120123456789ABCDEF' "$1" || { cat "$1"; fail "$2 did not list the tag"; }; }

cmake -S "$source/examples/c" -B "$scratch/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/consumer.log"
cmake --build "$scratch/cmake-consumer" >>"$scratch/consumer.log"
"$scratch/cmake-consumer/list_tags" localhost "$port" >"$scratch/cmake.out"
expect_tag "$scratch/cmake.out" "the find_package(Morvent) build"

cmake -S "$source/examples/cpp" -B "$scratch/cpp-consumer" -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/cpp-consumer.log"
cmake --build "$scratch/cpp-consumer" >>"$scratch/cpp-consumer.log"
"$scratch/cpp-consumer/tags" 127.0.0.1 "$port" >"$scratch/cpp.out"
expect_tag "$scratch/cpp.out" "the C++ example"
grep -q 'user memory of E20034120123456789ABCDEF: CAFEF00D' "$scratch/cpp.out" ||
  { cat "$scratch/cpp.out"; fail "the C++ example did not read back what it wrote"; }

# Python: the package `make install` put in the prefix finds the core beside
# itself; `pip install ./python` into a venv, offline, finds it by MORVENT_LIB.
site=$(ls -d "$prefix"/lib/python3*/dist-packages)
[ -e "$site/morvent/libMorvent.so" ] || fail "the Python package has no link to libMorvent.so"
PYTHONPATH=$site /usr/bin/python3 "$source/examples/python/tags.py" 127.0.0.1 "$port" >"$scratch/python-installed.out"
expect_tag "$scratch/python-installed.out" "the installed Python package"
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
cp -r "$source/python" "$scratch/python-source"  # pip builds in the source tree; keep it clean
"$scratch/venv/bin/pip" install -q --no-build-isolation --no-index "$scratch/python-source" >"$scratch/pip.log" 2>&1 ||
  { cat "$scratch/pip.log"; fail "pip install ./python"; }
MORVENT_LIB=$prefix/lib/libMorvent.so "$scratch/venv/bin/python" "$source/examples/python/tags.py" 127.0.0.1 "$port" \
  >"$scratch/python.out"
expect_tag "$scratch/python.out" "the Python example"
grep -q 'user memory of E20034120123456789ABCDEF: CAFEF00D' "$scratch/python.out" ||
  { cat "$scratch/python.out"; fail "the Python example did not read back what it wrote"; }

# Java: the com.example class on the installed jars.
if [ -e "$prefix/share/java/MorventExample.jar" ]; then
  java -Djava.library.path="$prefix/lib" \
       -cp "$prefix/share/java/Tessaly.jar:$prefix/share/java/MorventExample.jar" com.example.Tags 127.0.0.1 "$port" \
       >"$scratch/java.out" 2>&1 || { cat "$scratch/java.out"; fail "the Java example"; }
  grep -q 'user memory of E20034120123456789ABCDEF: CAFEF00D' "$scratch/java.out" ||
    { cat "$scratch/java.out"; fail "the Java example did not read back what it wrote"; }
fi

# The GS1 identity examples (no reader needed) on the installed headers, package and jars.
expect_identity() {
  grep -q 'urn:epc:id:sgtin:0614141.812345.6789' "$1" && grep -q 'encoded *3074257BF7194E4000001A85' "$1" &&
    grep -q 'refused' "$1" || { cat "$1"; fail "$2 did not decode, encode and refuse as the GS1 example should"; }
}
"$scratch/cmake-consumer/epc" >"$scratch/epc-c.out" && expect_identity "$scratch/epc-c.out" "the C GS1 example"
"$scratch/cpp-consumer/epc" >"$scratch/epc-cpp.out" && expect_identity "$scratch/epc-cpp.out" "the C++ GS1 example"
PYTHONPATH=$site /usr/bin/python3 "$source/examples/python/epc.py" >"$scratch/epc-python.out"
expect_identity "$scratch/epc-python.out" "the Python GS1 example"
if [ -e "$prefix/share/java/MorventExample.jar" ]; then
  java -Djava.library.path="$prefix/lib" -cp "$prefix/share/java/Tessaly.jar:$prefix/share/java/MorventExample.jar" \
       com.example.Identity >"$scratch/epc-java.out" 2>&1
  expect_identity "$scratch/epc-java.out" "the Java GS1 example"
fi

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
cc -o "$scratch/list_tags_pc" "$source/examples/c/list_tags.c" $(pkg-config --cflags --libs morvent) \
   -Wl,-rpath,"$(pkg-config --variable=libdir morvent)"
"$scratch/list_tags_pc" 127.0.0.1 "$port" >"$scratch/pkgconfig.out"
expect_tag "$scratch/pkgconfig.out" "the pkg-config build"

"$prefix/bin/morvent" --tcp "127.0.0.1:$port" inventory >"$scratch/tool.out"
expect_tag "$scratch/tool.out" "the installed morvent"
echo "install test: the C and C++ CMake consumers, the pkg-config consumer, the Python package (installed and from pip), the Java example and the installed tool listed the tags; the GS1 examples ran in C, C++, Python and Java"
