#!/usr/bin/env bash
# Compares the names a DLL exports with the names it must export: the
# MORVENT_API functions of a C header, or the native methods of a Java class
# under their JNI names (an underscore in a method name is "_1" there).
# Usage: check_exports.sh DLL HEADER_OR_JAVA_SOURCE
set -euo pipefail
dll=$1
source=$2

declared() {
  case "$source" in
    *.java)
      local class
      class=$(basename "$source" .java)
      grep -oE '\bnative\b[^(]*\b[A-Za-z_][A-Za-z0-9_]*[[:space:]]*\(' "$source" |
        sed -E 's/.*[[:space:]]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\($/\1/' |
        sed -e 's/_/_1/g' -e "s/^/Java_${class}_/" ;;
    *.h)
      grep -oE '^MORVENT_API[^(]*\b[A-Za-z_][A-Za-z0-9_]*\(' "$source" |
        sed -E 's/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)\($/\1/' ;;
  esac
}

exported() {
  x86_64-w64-mingw32-objdump -p "$dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -oE '^[[:space:]]*\[ *[0-9]+\] [A-Za-z_][A-Za-z0-9_]*' |
    sed -E 's/.*\] //'
}

expected=$(declared | sort -u)
actual=$(exported | sort -u)
if [ -z "$expected" ] || [ "$expected" != "$actual" ]; then
  echo "$(basename "$dll") exports differ from $(basename "$source") (< declared, > exported):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$(basename "$dll"): $(echo "$expected" | wc -l) names exported as declared"
