#!/usr/bin/env bash
# Times `ostrel-cli scan` against what a user would run instead: ripgrep with eight plain WAF
# patterns (../shared/bench/rg-waf-patterns.txt, `rg -c -f`). Same generated logs, commands
# interleaved round by round, medians reported; on one core (-j1) and on two (-j2; ripgrep
# gets the file's two halves, since it searches one file on one thread).
#
# Usage: bench/scan_vs_rg.sh [--size 256M] [--types "apache iis tomcat"] [--rounds 3]
#                            [--build DIR] [--patterns FILE] [--keep]
#
# ostrel-cli runs as a user runs it: --type auto, default filters (status 200, no static
# files), the location looked up for every hit, the result file written. ripgrep only
# counts matching lines: it takes no log apart, looks nothing up and writes no result, and
# its eight patterns catch far fewer attacks (see docs/rules.md). Also measured: the
# start-up of a scan of a one-line log, and the CPU time of an 8 MiB scan by -j.
set -euo pipefail
cd "$(dirname "$0")/.."
size=256M
types=(apache iis tomcat)
rounds=3
build=build
patterns=../shared/bench/rg-waf-patterns.txt
keep=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --types) read -r -a types <<<"$2"; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --patterns) patterns=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) sed -n '2,14p' "$0" >&2; exit 2 ;;
  esac
done
cmake --build "$build" --target ostrel-cli gen_logs ipdb_file >/dev/null
cli="$build/bin/ostrel-cli"
gen="$build/bench/gen_logs"
command -v rg >/dev/null || { echo "scan_vs_rg: ripgrep (rg) is not installed" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "scan_vs_rg: /usr/bin/time is not installed" >&2; exit 2; }
[[ -f $patterns ]] || { echo "scan_vs_rg: no pattern file $patterns" >&2; exit 2; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-bench.XXXXXX")
cleanup() { if [[ $keep == 0 ]]; then rm -rf "$tmp"; else echo "kept $tmp"; fi; }
trap cleanup EXIT

# Runs a command under /usr/bin/time; appends "wall user+sys peak_kib" to the file $1.
timed() {
  local record=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$tmp/time" "$@" >"$tmp/out" 2>"$tmp/err" || true
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$tmp/time" >>"$record"
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

echo "machine: $(nproc) cores, $(uptime | sed 's/.*load average/load average/')"
echo "ostrel-cli: $cli; ripgrep: $(rg --version | sed -n 1p); patterns: $patterns"
echo
printf '%-7s %-34s %8s %7s %9s %8s %9s\n' type command seconds GB/s "cpu s" "peak MiB" "hits"
for type in "${types[@]}"; do
  log="$tmp/$type.log"
  "$gen" --type "$type" --size "$size" --seed 1 -o "$log"
  bytes=$(stat -c %s "$log")
  # The two halves of the log, cut at a line end, for ripgrep on two threads.
  python3 - "$log" "$tmp/$type.1" "$tmp/$type.2" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
cut = data.index(b'\n', len(data) // 2) + 1
open(sys.argv[2], 'wb').write(data[:cut])
open(sys.argv[3], 'wb').write(data[cut:])
PY

  names=("ostrel-cli scan -j1 compact" "ostrel-cli scan -j2 compact" "ostrel-cli scan -j1 broad"
         "ostrel-cli scan -j2 broad" "rg -c -f -j1" "rg -c -f -j2 (two halves)")
  rm -f "$tmp"/record.*
  for ((round = 0; round < rounds; round++)); do
    for jobs in 1 2; do
      for set in compact broad; do
        timed "$tmp/record.$jobs.$set" "$cli" scan -q -j "$jobs" -t auto -r "$set" \
          -o "$tmp/result.log" "$log"
        [[ $round -eq 0 ]] && echo $(($(wc -l <"$tmp/result.log") - 1)) >"$tmp/hits.$jobs.$set"
      done
    done
    timed "$tmp/record.rg1" rg -j1 -c -f "$patterns" "$log"
    [[ $round -eq 0 ]] && cat "$tmp/out" >"$tmp/hits.rg1"
    timed "$tmp/record.rg2" rg -j2 -c -f "$patterns" "$tmp/$type.1" "$tmp/$type.2"
    [[ $round -eq 0 ]] && awk -F: '{s += $NF} END {print s}' "$tmp/out" >"$tmp/hits.rg2"
  done
  records=(1.compact 2.compact 1.broad 2.broad rg1 rg2)
  for i in "${!records[@]}"; do
    r=${records[$i]}
    wall=$(cut -d' ' -f1 "$tmp/record.$r" | median)
    cpu=$(cut -d' ' -f2 "$tmp/record.$r" | median)
    peak=$(cut -d' ' -f3 "$tmp/record.$r" | median)
    printf '%-7s %-34s %8.2f %7.3f %9.2f %8d %9s\n' "$type" "${names[$i]}" "$wall" \
      "$(awk -v b="$bytes" -v s="$wall" 'BEGIN {print (s > 0 ? b / s / 1e9 : 0)}')" "$cpu" \
      $((peak / 1024)) "$(cat "$tmp/hits.$r")"
  done
  rm -f "$log" "$tmp/$type.1" "$tmp/$type.2"
done

echo
# Start-up: one attack line, from the start of the program to its exit.
printf '%s\n' '8.8.8.8 - - [01/Dec/2026:10:00:00 +0800] "GET /?q=1%20union%20select%201,2 HTTP/1.1" 200 5 "-" "curl/8.5.0"' \
  >"$tmp/one.log"
rm -f "$tmp/record.one"
for ((i = 0; i < 10; i++)); do
  timed "$tmp/record.one" "$cli" scan -q -t auto -o "$tmp/result.log" "$tmp/one.log"
done
echo "start-up, one-line log: $(cut -d' ' -f1 "$tmp/record.one" | median) s wall (median of 10)"

# CPU time by number of workers, on an 8 MiB log.
"$gen" --type apache --size 8M --seed 2 -o "$tmp/small.log"
for jobs in 1 2 4; do
  rm -f "$tmp/record.small"
  for ((i = 0; i < rounds; i++)); do
    timed "$tmp/record.small" "$cli" scan -q -j "$jobs" -t auto -o "$tmp/result.log" \
      "$tmp/small.log"
  done
  echo "8 MiB log, -j$jobs: $(cut -d' ' -f2 "$tmp/record.small" | median) s CPU (user+sys)"
done
