#!/usr/bin/env bash
# Benchmark: vlmaudit /list and /time on logs of 10k, 100k and 1M records with 10, 100 and
# 1,000 users (one reboot per 1,000 records), beside util-linux `last -f` and GNU acct
# `ac -p -f` reading the same sessions as wtmp, and `cat` of the .evt file as the floor.
# Each cell is the best wall time of REPEAT runs and the peak RSS (/usr/bin/time).
#
#   bench/run.sh [BUILD_DIR]      (default: build; needs the packages time, util-linux, acct)
#   SIZES="10000 100000" USERS="10 100" REPEAT=3 bench/run.sh
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sizes=${SIZES:-10000 100000 1000000}
users=${USERS:-10 100 1000}
repeat=${REPEAT:-3}
for tool in /usr/bin/time utmpdump last ac; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install time util-linux acct)" >&2; exit 1; }
done
[ -x "$build/vlmaudit" ] && [ -x "$build/make_bench_log" ] || { echo "bench: build $build first" >&2; exit 1; }

work=$(mktemp -d /tmp/vlmaudit-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C TZ=UTC VLMAUDIT_ROOT=$work

. "$(dirname "$0")/lib.sh"

printf '| records | users | log MB | cat .evt | vlmaudit /list | vlmaudit /time | last -f | ac -p -f | /list / last | /time / last |\n'
printf '|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for n in $sizes; do
  for u in $users; do
    rm -rf "$work/eventlog" "$work"/wtmp*
    mkdir -p "$work/eventlog"
    "$build/make_bench_log" "$n" "$u" "$work/eventlog/Application.evt" "$work/wtmp.txt"
    utmpdump -r < "$work/wtmp.txt" > "$work/wtmp" 2>/dev/null
    log_mb=$(awk "BEGIN{printf \"%.1f\", $(stat -c %s "$work/eventlog/Application.evt") / 1048576}")
    read -r cat_s cat_m <<< "$(measure sh -c "cat \"$work/eventlog/Application.evt\" | cat")"
    read -r list_s list_m <<< "$(measure "$build/vlmaudit" /list)"
    read -r time_s time_m <<< "$(measure "$build/vlmaudit" /time)"
    read -r last_s last_m <<< "$(measure last -f "$work/wtmp")"
    read -r ac_s ac_m <<< "$(measure ac -p -f "$work/wtmp")"
    ratio() { awk "BEGIN{printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.01)}"; }
    printf '| %s | %s | %s | %s s, %s MB | %s s, %s MB | %s s, %s MB | %s s, %s MB | %s s, %s MB | %s | %s |\n' \
      "$n" "$u" "$log_mb" "$cat_s" "$cat_m" "$list_s" "$list_m" "$time_s" "$time_m" \
      "$last_s" "$last_m" "$ac_s" "$ac_m" "$(ratio "$list_s" "$last_s")" "$(ratio "$time_s" "$last_s")"
  done
done
