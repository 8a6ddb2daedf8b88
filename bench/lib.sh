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
