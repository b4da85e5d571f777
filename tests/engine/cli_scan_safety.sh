#!/usr/bin/env bash
# ostrel-cli scan never eats its inputs and always stops on a signal.
# Usage: cli_scan_safety.sh CLI CASE     (exits 77 = skipped without QQWry.dat)
set -u
cli=$1
case_name=$2
[[ -f "$(dirname "$cli")/QQWry.dat" ]] || { echo "no QQWry.dat beside $cli: skipped"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-safety.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "$case_name: $*" >&2; exit 1; }
hit='8.8.8.8 - - [01/Dec/2026:10:00:00 +0800] "GET /?q=1%20union%20select%201,2 HTTP/1.1" 200 5 "-" "curl/8.5.0"'
printf '%s\n' "$hit" "$hit" >"$dir/in.log"
cp "$dir/in.log" "$dir/copy.log"

# Waits up to 5 s for process $1 to end; gives its exit status, or fails.
ended_within() {
  local pid=$1 i
  for ((i = 0; i < 50; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; return $?; fi
    sleep 0.1
  done
  fail "still running 5 s after the signal"
}

case $case_name in
  output-is-input)
    "$cli" scan -q -o "$dir/in.log" "$dir/in.log" 2>"$dir/err"
    [[ $? -eq 2 ]] || fail "exit status is not 2"
    cmp -s "$dir/in.log" "$dir/copy.log" || fail "the input was changed"
    grep -q "in.log" "$dir/err" || fail "the message names no file"
    "$cli" scan -q -o "$dir/1.log" --xlsx "$dir/in.log" "$dir/in.log" 2>/dev/null
    [[ $? -eq 2 ]] || fail "--xlsx onto an input: exit status is not 2"
    cmp -s "$dir/in.log" "$dir/copy.log" || fail "the input was changed by --xlsx"
    ;;
  output-in-walked-folder)
    mkdir "$dir/logs"
    cp "$dir/in.log" "$dir/logs/a.log"
    cp "$dir/in.log" "$dir/logs/hits.log"  # an older result, listed with the logs
    "$cli" scan -q -o "$dir/logs/hits.log" "$dir/logs" 2>/dev/null
    [[ $? -eq 0 ]] || fail "exit status is not 0"
    [[ $(grep -c union "$dir/logs/hits.log") -eq 2 ]] || fail "hits read back from the result"
    ;;
  xlsx-with-standard-output)
    # Refused before the scan: standard input would otherwise be read to its end first.
    "$cli" scan -q -o - --xlsx "$dir/a.xlsx" - < <(sleep 30) >/dev/null 2>&1 &
    ended_within $!
    [[ $? -eq 2 ]] || fail "exit status is not 2"
    ;;
  signal-while-reading-a-pipe)
    for signal in TERM INT; do
      "$cli" scan -q -o "$dir/r.log" - < <(printf '%s\n' "$hit"; exec 2>/dev/null; sleep 40) &
      pid=$!
      sleep 1
      kill -"$signal" $pid
      ended_within $pid
      [[ $? -eq 130 ]] || fail "SIGTERM/SIGINT: exit status is not 130"
      grep -q union "$dir/r.log" || fail "the hit read before the signal is lost"
    done
    ;;
  signal-while-waiting-for-a-fifo)
    mkfifo "$dir/out"
    "$cli" scan -q -o "$dir/out" "$dir/in.log" 2>/dev/null &
    pid=$!
    sleep 1
    kill -TERM $pid
    ended_within $pid
    status=$?
    [[ $status -ne 0 && $status -ne 1 ]] || fail "a stopped scan reported success ($status)"
    ;;
  *) fail "unknown case" ;;
esac
exit 0
