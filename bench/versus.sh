#!/usr/bin/env bash
# Before and after: times two builds of vlmaudit on the same 1M-record logs of 1,000 users, in
# one sitting, with their runs interleaved (old, new, old, new, ...) so that a slow spell of a
# shared machine falls on both. Each cell is the best wall time of REPEAT runs of each build;
# `last -f` and `ac -p -f` on the same sessions are timed in the same loop. The ratios are the
# new build's.
#
#   bench/versus.sh OLD_VLMAUDIT NEW_VLMAUDIT [BUILD_DIR]   (BUILD_DIR has make_bench_log)
#   SIZE=200000 REPEAT=5 bench/versus.sh old/vlmaudit build-release/vlmaudit build-release
#   SHAPES=random FORMATS=evtx REPEAT=9 bench/versus.sh ...     (one row only)
set -euo pipefail
old=$(realpath "$1") new=$(realpath "$2")
build=$(cd "${3:-build}" && pwd)
size=${SIZE:-1000000}
repeat=${REPEAT:-3}
for tool in /usr/bin/time utmpdump last ac taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install time util-linux acct)" >&2; exit 1; }
done
work=$(mktemp -d /tmp/vlmaudit-versus-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C TZ=UTC VLMAUDIT_ROOT=$work
. "$(dirname "$0")/lib.sh"

# best NAME CMD...: runs CMD once and keeps its time in best_NAME when it is the best so far,
# with its peak RSS in rss_NAME.
declare -A best rss
run() {
  local name=$1 t m
  shift
  /usr/bin/time -o "$work/time.out" -f "%e %M" "$@" > /dev/null 2>&1 || true
  read -r t m < "$work/time.out"
  if [ -z "${best[$name]:-}" ] || awk "BEGIN{exit !($t < ${best[$name]})}"; then
    best[$name]=$t rss[$name]=$(( (m + 1023) / 1024 ))
  fi
}

reports=("list:/list" "time:/time" "csv:/time /format:csv" "json:/list /format:json")
printf '| shape | format | /list | /time | /time csv | /list json | /list 1 CPU | /time 1 CPU | last -f | ac -p -f | /list, /time / ac | 1 CPU / ac | /list, /time / last | 1 CPU / last | csv, json / text | RSS / log |\n'
printf '|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for shape in ${SHAPES:-turns random}; do
  rm -rf "$work/eventlog" "$work"/wtmp* "$work"/Application.*
  mkdir -p "$work/eventlog"
  "$build/make_bench_log" "$shape" "$size" 1000 "$work/Application.evt" "$work/wtmp.txt" \
    "$work/Application.evtx" 1000
  utmpdump -r < "$work/wtmp.txt" > "$work/wtmp" 2>/dev/null
  for format in ${FORMATS:-evt evtx}; do
    best=() rss=()
    rm -f "$work/eventlog"/*
    ln "$work/Application.$format" "$work/eventlog/Application.$format"
    log_mb=$(awk "BEGIN{print $(stat -c %s "$work/eventlog/Application.$format") / 1048576}")
    for _ in $(seq "$repeat"); do
      run last last -f "$work/wtmp"
      run ac ac -p -f "$work/wtmp"
      for build_name in old new; do
        program=$old
        [ "$build_name" = old ] || program=$new
        for report in "${reports[@]}"; do
          run "$build_name-${report%%:*}" "$program" ${report#*:}
        done
        run "$build_name-list1" taskset -c 0 "$program" /list
        run "$build_name-time1" taskset -c 0 "$program" /time
      done
    done
    printf '| %s | .%s ' "$shape" "$format"
    for cell in list time csv json list1 time1; do
      printf '| %s → %s ' "${best[old-$cell]}" "${best[new-$cell]}"
    done
    printf '| %s | %s | %s, %s | %s, %s | %s, %s | %s, %s | %s, %s | %s |\n' "${best[last]}" "${best[ac]}" \
      "$(ratio "${best[new-list]}" "${best[ac]}")" "$(ratio "${best[new-time]}" "${best[ac]}")" \
      "$(ratio "${best[new-list1]}" "${best[ac]}")" "$(ratio "${best[new-time1]}" "${best[ac]}")" \
      "$(ratio "${best[new-list]}" "${best[last]}")" "$(ratio "${best[new-time]}" "${best[last]}")" \
      "$(ratio "${best[new-list1]}" "${best[last]}")" "$(ratio "${best[new-time1]}" "${best[last]}")" \
      "$(ratio "${best[new-csv]}" "${best[new-time]}")" "$(ratio "${best[new-json]}" "${best[new-list]}")" \
      "$(ratio "${rss[new-time]}" "$log_mb")"
  done
done
