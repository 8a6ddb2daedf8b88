#!/usr/bin/env bash
# Benchmark of the registry stand-in: the status line and /on on hives of 1,000 to 100,000 keys
# (two values each, the Velmor key last), best wall time of REPEAT runs and peak RSS.
#
#   bench/hive.sh [BUILD_DIR]      (default: build; needs the package time)
#   KEYS="1000 10000" REPEAT=3 bench/hive.sh
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
keys=${KEYS:-1000 10000 100000}
repeat=${REPEAT:-3}
command -v /usr/bin/time >/dev/null || { echo "bench: apt-get install time" >&2; exit 1; }
work=$(mktemp -d /tmp/vlmaudit-hive-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C VLMAUDIT_ROOT=$work
mkdir -p "$work/registry"

. "$(dirname "$0")/lib.sh"
restore() { cp "$work/hive.reg" "$work/registry/HKEY_LOCAL_MACHINE.reg"; }
prepare=restore
cell() { local s m; read -r s m <<< "$(measure "$@")"; printf '%s s, %s MB' "$s" "$m"; }

printf '| keys | hive MB | status | /on |\n|---:|---:|---:|---:|\n'
for n in $keys; do
  awk -v n="$n" 'BEGIN {
    print "Windows Registry Editor Version 5.00\n"
    for (i = 0; i < n; i++) {
      printf "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor%d\\Product\\Key%d]\n", i % 97, i
      printf "\"Name\"=\"Value %d\"\n\"Flags\"=dword:%08x\n\n", i, i
    }
    print "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor]"
    print "\"wsxlumEvent\"=dword:00000001\n"
  }' > "$work/hive.reg"
  mb=$(awk "BEGIN{printf \"%.1f\", $(stat -c %s "$work/hive.reg") / 1048576}")
  printf '| %s | %s | %s | %s |\n' "$n" "$mb" "$(cell "$build/vlmaudit")" "$(cell "$build/vlmaudit" /on)"
done
