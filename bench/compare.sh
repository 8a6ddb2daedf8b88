#!/usr/bin/env bash
# Checks that two builds of vlmaudit print the same bytes: /list and /time, their CSV and JSON
# forms, /time /daily, and both reports with a window (the middle half of each log's time, as
# /since: alone for /list and with /until: for /time), over the golden cases' logs and the bench
# workloads (both shapes, both formats, many reboots), in three locales and two time zones, with
# the clock frozen (faketime). Prints one md5 line per build and run, and "same" or the runs
# that differ.
#
#   bench/compare.sh OLD_VLMAUDIT NEW_VLMAUDIT [BUILD_DIR]   (BUILD_DIR has evtutil, make_bench_log)
set -euo pipefail
old=$1 new=$2
build=$(cd "${3:-build}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/vlmaudit-compare-XXXXXX)
trap 'rm -rf "$work"' EXIT
roots=()
for case in "$here"/tests/e2e/cases/*.case; do
  root="$work/$(basename "$case" .case)"
  mkdir -p "$root/eventlog"
  sed -n '/^--- log$/,/^--- expected$/{/^--- /!p}' "$case" |
    "$build/evtutil" batch "$root/eventlog/Application.evt" >/dev/null
  roots+=("$root")
done
for workload in "turns 100000 1000 1000" "random 100000 1000 1000" "turns 200000 10000 40"; do
  read -r shape n u every <<< "$workload"
  for format in evt evtx; do
    root="$work/$shape-$n-$every-$format"
    mkdir -p "$root/eventlog"
    "$build/make_bench_log" "$shape" "$n" "$u" "$work/log.evt" "$work/wtmp.txt" "$work/log.evtx" "$every"
    mv "$work/log.$format" "$root/eventlog/Application.$format"
    roots+=("$root")
  done
done
. "$here/bench/lib.sh"
# Each root's window, from the old build: SINCE and UNTIL stand for its ends in the options.
windows=()
for root in "${roots[@]}"; do
  windows+=("$(VLMAUDIT_ROOT=$root LC_ALL=C TZ=UTC half_window "$old")")
done
options=(/list /time "/time /format:csv" "/list /format:json" "/time /daily" "/list /since:SINCE"
  "/time /since:SINCE /until:UNTIL")
differ=0
for locale in C de_DE.UTF-8 ja_JP.UTF-8; do
  for tz in UTC Europe/Berlin; do
    for option in "${options[@]}"; do
      sums=()
      for program in "$old" "$new"; do
        sums+=("$(for i in "${!roots[@]}"; do
          read -r since until <<< "${windows[$i]}"
          args=${option//SINCE/$since}
          VLMAUDIT_ROOT=${roots[$i]} LC_ALL=$locale TZ=$tz faketime -f '2026-12-08 12:00:00' \
            "$program" ${args//UNTIL/$until} 2>&1
        done | md5sum | cut -d' ' -f1)")
      done
      echo "$locale $tz $option ${sums[0]} ${sums[1]}"
      [ "${sums[0]}" = "${sums[1]}" ] || differ=1
    done
  done
done
[ "$differ" = 0 ] && echo same || { echo DIFFER; exit 1; }
