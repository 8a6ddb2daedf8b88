#!/usr/bin/env bash
# Benchmark: vlmaudit /list and /time beside util-linux `last -f` and GNU acct `ac -p -f`
# reading the same sessions as wtmp, and `cat` of the log as the floor. Each workload is written
# in both formats (.evt and .evtx). Workloads (make_bench_log):
#   turns  users log on and off in turn, one session number each (SIZES x USERS);
#   random session numbers up to 1,000,000, up to 50 open at once, 1 to 30 s apart (SIZES,
#          1,000 users);
#   200k records of 10,000 users with a reboot every 40 records (5,000 reboots), and the same
#          with one every 1,000 (200 reboots).
# Each cell is the best wall time of REPEAT runs and that run's peak RSS (/usr/bin/time).
#
# A second table times, on the same logs, the reports with modifiers: /time /format:csv and
# /list /format:json (against the text report), /list and /time with a window of the middle half
# of the log's time and with /user: of one user (against the whole report), and /list and /time
# on one processor (taskset -c 0: no .evtx read-ahead threads) against last -f and ac -p -f,
# which use one. MODIFIERS=0 leaves it out.
#
# A third table (MANY=1; MANY=only runs it alone) times vlmaudit over several logs and over the
# log of many computers, best of REPEAT with peak RSS, on MANY_RECORDS records (default 1,000,000)
# of MANY_USERS users (1,000), shape MANY_SHAPE (turns), a reboot every 1,000 records of each
# computer:
#   /list and /time over MANY_PARTS logs (10) in a row, numbers going on (/file: once each),
#          against the same records as one log (goal: at most 1.1);
#   /time /computer:* over a collector's log of MANY_COMPUTERS computers (100) sharing the users,
#          whose session numbers collide, against /time on the one-computer log (goal: at most
#          1.2);
#   peak RSS against the total size of the logs read (goal: at most 0.5).
# A report the build does not take (it exits non-zero) is shown as n/a.
#
#   bench/run.sh [BUILD_DIR]      (default: build; needs the packages time, util-linux, acct)
#   SIZES="10000 100000" USERS="10 100" REBOOTS=0 REPEAT=3 bench/run.sh
#   SIZES=1000000 REBOOTS=0 REPEAT=5 bench/run.sh build-release     (the 1M rows only)
#   MANY=only REPEAT=3 bench/run.sh build-release                   (the third table only)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sizes=${SIZES:-10000 100000 1000000}
users=${USERS:-10 100 1000}
repeat=${REPEAT:-3}
modifiers=${MODIFIERS:-1}
many=${MANY:-0}
for tool in /usr/bin/time utmpdump last ac taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install time util-linux acct)" >&2; exit 1; }
done
[ -x "$build/vlmaudit" ] && [ -x "$build/make_bench_log" ] || { echo "bench: build $build first" >&2; exit 1; }

work=$(mktemp -d /tmp/vlmaudit-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C TZ=UTC VLMAUDIT_ROOT=$work
. "$(dirname "$0")/lib.sh"

workloads=()
[ "$many" = only ] && sizes="" && REBOOTS=0
for n in $sizes; do for u in $users; do workloads+=("turns $n $u 1000"); done; done
for n in $sizes; do workloads+=("random $n 1000 1000"); done
[ "${REBOOTS:-1}" = 0 ] || workloads+=("turns 200000 10000 40" "turns 200000 10000 1000")

one_user=/user:user0001 # BENCH\user0001, in every workload of more than one user
modifier_rows=()
[ ${#workloads[@]} -eq 0 ] || printf '| shape | records | users | reboots | format | log MB | cat | vlmaudit /list | vlmaudit /time | last -f | ac -p -f | /list / last | /time / last | /list / ac | /time / ac | /time RSS / log |\n'
[ ${#workloads[@]} -eq 0 ] || printf '|---|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for workload in "${workloads[@]}"; do
  read -r shape n u every <<< "$workload"
  rm -rf "$work/eventlog" "$work"/wtmp*
  mkdir -p "$work/eventlog"
  "$build/make_bench_log" "$shape" "$n" "$u" "$work/Application.evt" "$work/wtmp.txt" \
    "$work/Application.evtx" "$every"
  utmpdump -r < "$work/wtmp.txt" > "$work/wtmp" 2>/dev/null
  read -r last_s last_m <<< "$(measure last -f "$work/wtmp")"
  read -r ac_s ac_m <<< "$(measure ac -p -f "$work/wtmp")"
  for format in evt evtx; do
    rm -f "$work/eventlog"/*
    ln "$work/Application.$format" "$work/eventlog/Application.$format"
    log="$work/eventlog/Application.$format"
    bytes=$(stat -c %s "$log")
    log_mb=$(awk "BEGIN{printf \"%.1f\", $bytes / 1048576}")
    read -r cat_s cat_m <<< "$(measure sh -c "cat \"$log\" | cat")"
    read -r list_s list_m <<< "$(measure "$build/vlmaudit" /list)"
    read -r time_s time_m <<< "$(measure "$build/vlmaudit" /time)"
    printf '| %s | %s | %s | %s | .%s | %s | %s s | %s s, %s MB | %s s, %s MB | %s s | %s s | %s | %s | %s | %s | %s |\n' \
      "$shape" "$n" "$u" "$(( n / every ))" "$format" "$log_mb" "$cat_s" "$list_s" "$list_m" \
      "$time_s" "$time_m" "$last_s" "$ac_s" "$(ratio "$list_s" "$last_s")" \
      "$(ratio "$time_s" "$last_s")" "$(ratio "$list_s" "$ac_s")" "$(ratio "$time_s" "$ac_s")" \
      "$(ratio "$time_m" "$(awk "BEGIN{print $bytes / 1048576}")")"
    [ "$modifiers" != 0 ] || continue
    read -r since until <<< "$(half_window "$build/vlmaudit")"
    window=("/since:$since" "/until:$until")
    read -r csv_s csv_m <<< "$(measure "$build/vlmaudit" /time /format:csv)"
    read -r json_s json_m <<< "$(measure "$build/vlmaudit" /list /format:json)"
    read -r wlist_s wlist_m <<< "$(measure "$build/vlmaudit" /list "${window[@]}")"
    read -r wtime_s wtime_m <<< "$(measure "$build/vlmaudit" /time "${window[@]}")"
    read -r ulist_s ulist_m <<< "$(measure "$build/vlmaudit" /list "$one_user")"
    read -r utime_s utime_m <<< "$(measure "$build/vlmaudit" /time "$one_user")"
    read -r list1_s list1_m <<< "$(measure taskset -c 0 "$build/vlmaudit" /list)"
    read -r time1_s time1_m <<< "$(measure taskset -c 0 "$build/vlmaudit" /time)"
    modifier_rows+=("$(printf '| %s | %s | %s | %s | .%s ' "$shape" "$n" "$u" "$(( n / every ))" "$format"
      for cell in "$csv_s $csv_m" "$json_s $json_m" "$wlist_s $wlist_m" "$wtime_s $wtime_m" \
                  "$ulist_s $ulist_m" "$utime_s $utime_m" "$list1_s $list1_m" "$time1_s $time1_m"; do
        printf '| %s s, %s MB ' $cell
      done
      printf '| %s | %s | %s, %s | %s, %s | %s | %s | %s | %s |' \
        "$(ratio "$csv_s" "$time_s")" "$(ratio "$json_s" "$list_s")" \
        "$(ratio "$wlist_s" "$list_s")" "$(ratio "$wtime_s" "$time_s")" \
        "$(ratio "$ulist_s" "$list_s")" "$(ratio "$utime_s" "$time_s")" \
        "$(ratio "$list1_s" "$last_s")" "$(ratio "$time1_s" "$last_s")" \
        "$(ratio "$list1_s" "$ac_s")" "$(ratio "$time1_s" "$ac_s")")")
  done
done
# cell SECONDS MB, or n/a when the build did not take the report.
cell() {
  if [ "$1" = n/a ]; then printf 'n/a'; else printf '%s s, %s MB' "$1" "$2"; fi
}
# timed CMD...: "seconds peak_MB" as measure gives them, or "n/a n/a" when CMD exits non-zero.
timed() {
  if "$@" > /dev/null 2>&1; then measure "$@"; else printf 'n/a n/a'; fi
}
# ratio_or A B: ratio A B, or n/a when either is.
ratio_or() {
  if [ "$1" = n/a ] || [ "$2" = n/a ]; then printf 'n/a'; else ratio "$1" "$2"; fi
}

many_table() {
  local n=${MANY_RECORDS:-1000000} u=${MANY_USERS:-1000} parts=${MANY_PARTS:-10}
  local computers=${MANY_COMPUTERS:-100} shape=${MANY_SHAPE:-turns} dir="$work/many"
  rm -rf "$dir" && mkdir -p "$dir"
  "$build/make_bench_log" "$shape" "$n" "$u" "$dir/one.evt" "$dir/wtmp.txt" "$dir/one.evtx" 1000
  "$build/make_bench_log" "$shape" "$n" "$u" "$dir/part.evt" "$dir/wtmp.txt" "$dir/part.evtx" \
    1000 1 "$parts"
  "$build/make_bench_log" "$shape" "$n" "$u" "$dir/collector.evt" "$dir/wtmp.txt" \
    "$dir/collector.evtx" 1000 "$computers"
  printf '\n| shape | records | users | format | logs | /list, %s logs | /list, 1 log | ratio | /time, %s logs | /time, 1 log | ratio | RSS / logs | computers | /time /computer:* | /time, 1 computer | ratio | RSS / log |\n' "$parts" "$parts"
  printf '|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
  local format k
  for format in evt evtx; do
    local files=() bytes=0
    for k in $(seq "$parts"); do
      files+=("/file:$dir/part-$k.$format")
      bytes=$(( bytes + $(stat -c %s "$dir/part-$k.$format") ))
    done
    local one="/file:$dir/one.$format" collector="/file:$dir/collector.$format"
    local collector_bytes=$(stat -c %s "$dir/collector.$format")
    local list_s list_m list1_s list1_m time_s time_m time1_s time1_m comp_s comp_m
    read -r list_s list_m <<< "$(timed "$build/vlmaudit" /list "${files[@]}")"
    read -r list1_s list1_m <<< "$(timed "$build/vlmaudit" /list "$one")"
    read -r time_s time_m <<< "$(timed "$build/vlmaudit" /time "${files[@]}")"
    read -r time1_s time1_m <<< "$(timed "$build/vlmaudit" /time "$one")"
    read -r comp_s comp_m <<< "$(timed "$build/vlmaudit" /time '/computer:*' "$collector")"
    local peak=n/a
    [ "$list_m" = n/a ] || [ "$time_m" = n/a ] || peak=$(( list_m > time_m ? list_m : time_m ))
    printf '| %s | %s | %s | .%s | %s MB | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' \
      "$shape" "$n" "$u" "$format" "$(awk "BEGIN{printf \"%.1f\", $bytes / 1048576}")" \
      "$(cell $list_s $list_m)" "$(cell $list1_s $list1_m)" "$(ratio_or "$list_s" "$list1_s")" \
      "$(cell $time_s $time_m)" "$(cell $time1_s $time1_m)" "$(ratio_or "$time_s" "$time1_s")" \
      "$(ratio_or "$peak" "$(awk "BEGIN{print $bytes / 1048576}")")" "$computers" \
      "$(cell $comp_s $comp_m)" "$(cell $time1_s $time1_m)" "$(ratio_or "$comp_s" "$time1_s")" \
      "$(ratio_or "$comp_m" "$(awk "BEGIN{print $collector_bytes / 1048576}")")"
  done
}

if [ ${#modifier_rows[@]} -gt 0 ]; then
  printf '\n| shape | records | users | reboots | format | /time /format:csv | /list /format:json | /list window | /time window | /list /user | /time /user | /list 1 CPU | /time 1 CPU | csv / text | json / text | window / whole (/list, /time) | /user / whole (/list, /time) | /list 1 CPU / last | /time 1 CPU / last | /list 1 CPU / ac | /time 1 CPU / ac |\n'
  printf '|---|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
  printf '%s\n' "${modifier_rows[@]}"
fi
[ "$many" = 0 ] || many_table
