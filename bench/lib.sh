# Shared by the benchmark scripts (sourced). measure CMD...: prints "seconds peak_MB", the best
# wall time of $repeat runs and that run's peak RSS (/usr/bin/time); runs $prepare before each
# run when set. Needs $work for its scratch file.
measure() {
  local best="" mem="" t m
  for _ in $(seq "$repeat"); do
    ${prepare:-true}
    /usr/bin/time -o "$work/time.out" -f "%e %M" "$@" > /dev/null 2>&1 || true
    read -r t m < "$work/time.out"
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; mem=$m; fi
  done
  printf '%s %s' "$best" "$(( (mem + 1023) / 1024 ))"
}

# ratio A B: A / B with two decimals (B taken as 0.01 when it is 0, a time below the clock's step).
ratio() {
  awk "BEGIN{printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.01)}"
}

# half_window VLMAUDIT: "SINCE UNTIL" as /since: and /until: values (UTC, with Z) for the middle
# half of the time the log of $VLMAUDIT_ROOT covers, from its first and last record.
half_window() {
  local first last
  read -r first last <<< "$("$1" /list /format:csv 2>/dev/null |
    awk -F, 'NR == 2 {first = $2} NR > 1 {last = $2} END {print first + 0, last + 0}')"
  local since=$(( first + (last - first) / 4 ))
  local until=$(( since + (last - first) / 2 + 1 ))
  printf '%s %s' "$(date -u -d "@$since" +%Y-%m-%dT%H:%M:%SZ)" \
    "$(date -u -d "@$until" +%Y-%m-%dT%H:%M:%SZ)"
}
