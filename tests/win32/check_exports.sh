#!/usr/bin/env bash
# Compares the JNI names a DLL exports with the native methods a Java class
# declares (an underscore in a method name is "_1" in its JNI name).
# Usage: check_exports.sh DLL JAVA_SOURCE
set -euo pipefail
dll=$1
java=$2
class=$(basename "$java" .java)

expected=$(grep -oE '\bnative\b[^(]*\b[A-Za-z_][A-Za-z0-9_]*[[:space:]]*\(' "$java" |
  sed -E 's/.*[[:space:]]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\($/\1/' |
  sed -e 's/_/_1/g' -e "s/^/Java_${class}_/" | sort -u)
exported=$(x86_64-w64-mingw32-objdump -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -oE "Java_${class}_[A-Za-z0-9_]+" | sort -u)

if [ "$expected" != "$exported" ]; then
  echo "exports differ from the native methods of $class (< declared, > exported):"
  diff <(echo "$expected") <(echo "$exported") || true
  exit 1
fi
echo "$(echo "$expected" | wc -l) native methods exported by name"
