#!/usr/bin/env bash
# Runs one end-to-end case: writes its log with evtutil under a fresh VLMAUDIT_ROOT (as .evt,
# or converted to .evtx when the fourth argument says evtx), runs
# vlmaudit under LC_ALL=C and TZ=UTC (and a frozen clock when the case names one), and compares
# the whole output byte for byte.
#
# A case file holds header lines, then '--- log' (evtutil batch lines), then '--- expected'
# (the exact output, to the end of the file). Headers:
#   args: /time                  the command line
#   auditing: off                wsxlumEvent = 0 (default 1)
#   max-size: 65536              the log's maximum size (it wraps when full)
#   faketime: 2020-05-01 12:00:00  the present moment, frozen (needs faketime)
#   exit: 1                      the expected exit status (default 0)
#   stderr: vlmaudit: ...        the one line expected on standard error (default: nothing)
#   tz: Europe/Berlin            the time zone (default UTC)
# An argument @LOG@ stands for the log, moved out of the root to be read as a saved log.
set -u
vlmaudit=$1 evtutil=$2 case=$3 format=${4:-evt}

header() { sed -n "/^---/q; s/^$1: //p" "$case"; }
args=$(header args)
auditing=$(header auditing)
maxsize=$(header max-size)
faketime=$(header faketime)
want_exit=$(header exit)
want_stderr=$(header stderr)
tz=$(header tz)

root=$(mktemp -d /tmp/vlmaudit-e2e-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/registry"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Velmor]\n"wsxlumEvent"=dword:%08x\n' \
  "$([ "$auditing" = off ] && echo 0 || echo 1)" > "$root/registry/HKEY_LOCAL_MACHINE.reg"

sed -n '/^--- log$/,/^--- expected$/{/^--- /!p}' "$case" |
  "$evtutil" batch "$root/eventlog/Application.evt" ${maxsize:+--max-size "$maxsize"} || exit 1
if [ "$format" = evtx ]; then
  # The same records (those a wrapped log kept) as a Windows Vista and later log.
  "$evtutil" convert "$root/eventlog/Application.evt" "$root/eventlog/Application.evtx" || exit 1
  rm "$root/eventlog/Application.evt"
fi
sed -n '/^--- expected$/,$p' "$case" | tail -n +2 > "$root/expected"
if [[ $args == *@LOG@* ]]; then
  mv "$root/eventlog/Application.$format" "$root/saved.$format"
  args=${args//@LOG@/$root/saved.$format}
fi

run=(env LC_ALL=C TZ="${tz:-UTC}" VLMAUDIT_ROOT="$root" "$vlmaudit")
if [ -n "$faketime" ]; then
  command -v faketime >/dev/null || { echo "faketime is not installed"; exit 77; }
  # libfaketime is preloaded before a sanitizer runtime could be: let ASan start anyway.
  run=(faketime -f "$faketime" env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${run[@]:1}")
fi
set -f # args are words, never file name patterns
# shellcheck disable=SC2086 # args are words
"${run[@]}" $args > "$root/actual" 2> "$root/errors"
status=$?
if [ "$(cat "$root/errors")" != "$want_stderr" ]; then
  echo "standard error differs from $case:"
  echo "expected: $want_stderr"
  echo "actual:   $(cat "$root/errors")"
  exit 1
fi
if ! cmp -s "$root/expected" "$root/actual"; then
  echo "output differs from $case:"
  diff -u "$root/expected" "$root/actual" | cat -A
  exit 1
fi
if [ "$status" != "${want_exit:-0}" ]; then
  echo "exit status $status, expected ${want_exit:-0}"
  exit 1
fi
echo "ok: $(basename "$case") as .$format ($(wc -l < "$root/actual") lines)"
