#!/usr/bin/env bash
# Checks the Debian packages `make package` built: names, version, sections
# and dependencies, the files each one carries, lintian, and then the
# packages unpacked into a throw-away root, where the programs, manual pages,
# Python package and Java API run against the unpacked core. The maintainer
# scripts of morventd run twice against stand-ins for the system's account
# and service tools, which must see the account created once.
# Argument: the package build directory (build-package).
set -euo pipefail
build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/morvent-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
checks=0
pass() { checks=$((checks + 1)); }

deb() { ls "$build"/packages/"$1"_*.deb 2>/dev/null | head -n 1; }
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
# Listings are taken whole before grep looks at them (grep -q would cut the
# pipe, and pipefail would count that as a failure).
contents() { dpkg-deb -c "$(deb "$1")"; }
has_file() { local list; list=$(contents "$1"); grep -q " \./$2\( ->.*\)\?$" <<<"$list" || fail "$1 lacks /$2"; pass; }
depends_on() { field "$1" Depends | grep -qE "(^|, )$2( |,|$)" || fail "$1 does not depend on $2 ($(field "$1" Depends))"; pass; }

expected=(libmorvent0 libmorvent-dev morvent-tools libtessaly-java)
[ -d "$source_dir/python/morvent" ] && expected+=(python3-morvent)
[ -f "$build/gateway/morventd" ] && expected+=(morventd)
for package in "${expected[@]}"; do
  [ -n "$(deb "$package")" ] || fail "no package $package in $build/packages"
  [ "$(field "$package" Version)" = "$version-1" ] || fail "$package has version $(field "$package" Version), not $version-1"
  [ -n "$(field "$package" Section)" ] && [ -n "$(field "$package" Description)" ] || fail "$package lacks a section or description"
  has_file "$package" "usr/share/doc/$package/copyright"
done

lib=usr/lib/$multiarch
has_file libmorvent0 "$lib/libMorvent.so.$version"
has_file libmorvent0 "$lib/jni/libTessaly.so"
has_file libmorvent0 "$lib/libMorvent.so.0"
has_file libmorvent-dev "$lib/libMorvent.so"
grep -q "$lib/libMorvent.so -> " <<<"$(contents libmorvent0)" && fail "libmorvent0 carries the development link"
has_file libmorvent-dev usr/include/morvent.h
has_file libmorvent-dev usr/include/morvent.hpp
has_file libmorvent-dev usr/include/morvent/epc.hpp
has_file libmorvent-dev usr/include/morvent/impl/reader_inl.hpp
has_file libmorvent-dev "$lib/pkgconfig/morvent.pc"
has_file libmorvent-dev "$lib/cmake/Morvent/MorventConfig.cmake"
depends_on libmorvent-dev libmorvent0
has_file morvent-tools usr/bin/morvent
has_file morvent-tools usr/bin/morvent-sim
has_file morvent-tools usr/share/man/man1/morvent.1.gz
has_file morvent-tools usr/share/man/man1/morvent-sim.1.gz
depends_on morvent-tools libmorvent0
depends_on morvent-tools libc6          # from dpkg-shlibdeps
has_file libtessaly-java usr/share/java/Tessaly.jar
if [[ " ${expected[*]} " == *" morventd "* ]]; then
  has_file morventd usr/bin/morventd
  has_file morventd etc/morvent/morventd.toml
  has_file morventd usr/share/man/man8/morventd.8.gz
  has_file morventd usr/share/man/man5/morventd.toml.5.gz
  has_file morventd usr/lib/systemd/system/morventd.service
  has_file morventd usr/lib/sysusers.d/morventd.conf
  has_file morventd usr/libexec/morventd/morventd-worker
  grep -qx /etc/morvent/morventd.toml <<<"$(dpkg-deb -I "$(deb morventd)" conffiles)" || fail "the configuration is no conffile"
  depends_on morventd libmorvent0
  depends_on morventd libmosquitto1
  depends_on morventd libsqlite3-0
fi

# lintian: no errors (warnings are printed for the reader of the log).
lintian --fail-on error --suppress-tags-from-file /dev/null "$build"/packages/*.deb \
  || fail "lintian reported errors"
pass

# The packages unpacked into a root of their own.
root=$scratch/root
for package in "${expected[@]}"; do dpkg-deb -x "$(deb "$package")" "$root"; done
export LD_LIBRARY_PATH=$root/$lib
grep -q "SONAME *libMorvent.so.${version%%.*}$" <<<"$(objdump -p "$root/$lib/libMorvent.so.$version")" \
  || fail "the library's SONAME is not libMorvent.so.${version%%.*}"
pass
for program in morvent morvent-sim morventd; do
  [ -x "$root/usr/bin/$program" ] || continue
  out=$("$root/usr/bin/$program" --version)
  [[ "$out" == *"$version"* ]] || fail "$program --version says '$out', not $version"
  ! grep -qE 'RPATH|RUNPATH' <<<"$(readelf -d "$root/usr/bin/$program")" || fail "$program carries a library search path"
  pass
done
grep -q "^Version: $version$" "$root/$lib/pkgconfig/morvent.pc" || fail "morvent.pc has another version"
for page in $(cd "$root" && find usr/share/man -name '*.gz'); do
  warnings=$(MANWIDTH=80 man --warnings -l "$root/$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  [ -n "$(MANWIDTH=80 man -l "$root/$page" 2>/dev/null)" ] || fail "man -l $page shows nothing"
  pass
done
if [[ " ${expected[*]} " == *" python3-morvent "* ]]; then
  py_version=$(cd "$scratch" && PYTHONPATH=$root/usr/lib/python3/dist-packages \
    /usr/bin/python3 -c 'import morvent; print(morvent.__version__, morvent.version())')
  [ "$py_version" = "$version $version" ] || fail "the Python package says '$py_version', not $version"
  pass
fi

# The Java API from the unpacked jar and bridge, the core found by the loader.
cat >"$scratch/Version.java" <<'JAVA'
public class Version {
    // -1 when the bridge found no core, 0 when the core closed its (no) ports.
    public static void main(String[] args) { System.exit(Tessaly.CloseComPort() == 0 ? 0 : 1); }
}
JAVA
javac -cp "$root/usr/share/java/Tessaly.jar" -d "$scratch" "$scratch/Version.java" 2>/dev/null \
  && java -cp "$root/usr/share/java/Tessaly.jar:$scratch" -Djava.library.path="$root/$lib/jni" Version >/dev/null \
  || fail "the unpacked Java bridge did not load the core"
pass

# morventd's maintainer scripts: idempotent, the account made once.
if [[ " ${expected[*]} " == *" morventd "* ]]; then
  control=$scratch/control && dpkg-deb -e "$(deb morventd)" "$control"
  stubs=$scratch/stubs && mkdir -p "$stubs" && log=$scratch/calls
  for tool in addgroup adduser deluser chown chmod mkdir rm systemctl; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$log" >"$stubs/$tool"
  done
  # getent knows the account once adduser has made it.
  printf '#!/bin/sh\ncase "$1" in group) tool=addgroup ;; *) tool=adduser ;; esac\ngrep -q "^$tool .* $2\\$" "%s" 2>/dev/null\n' "$log" >"$stubs/getent"
  chmod +x "$stubs"/*
  for run in 1 2; do PATH=$stubs:$PATH sh "$control/postinst" configure || fail "postinst failed on run $run"; done
  [ "$(grep -c '^adduser' "$log")" = 1 ] || { cat "$log"; fail "postinst did not make the account exactly once"; }
  [ "$(grep -c '^addgroup' "$log")" = 1 ] || { cat "$log"; fail "postinst did not make the group exactly once"; }
  grep -q '^mkdir -p /var/lib/morventd' "$log" || fail "postinst made no state directory"
  for run in 1 2; do PATH=$stubs:$PATH sh "$control/postrm" purge || fail "postrm purge failed on run $run"; done
  pass
fi
echo "package test: ${#expected[@]} packages, $checks checks passed"
