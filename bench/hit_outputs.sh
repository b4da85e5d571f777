#!/usr/bin/env bash
# What the hit outputs cost: `ostrel-cli scan` with --format log (the result file), jsonl
# and csv, and log with --report, on one log, commands interleaved round by round, the
# median of user+sys CPU seconds reported (CPU time, as the machine may be shared). With
# --callgrind N, also the instructions of each on the log's first N lines (valgrind), which
# do not depend on the load.
#
# Usage: bench/hit_outputs.sh [--log FILE] [--size 256M] [--type apache] [--jobs 1]
#                             [--rounds 5] [--callgrind LINES] [--build DIR]
#
# Without --log, the log is generated: gen_logs --type apache --size SIZE --seed 1.
set -euo pipefail
cd "$(dirname "$0")/.."
log=
size=256M
type=apache
jobs=1
rounds=5
callgrind=0
build=build
while [[ $# -gt 0 ]]; do
  case "$1" in
    --log) log=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --type) type=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --callgrind) callgrind=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) sed -n '2,11p' "$0" >&2; exit 2 ;;
  esac
done
[[ -x /usr/bin/time ]] || { echo "hit_outputs: /usr/bin/time is not installed" >&2; exit 2; }
cmake --build "$build" --target ostrel-cli gen_logs ipdb_file >/dev/null
cli="$build/bin/ostrel-cli"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [[ -z $log ]]; then
  log="$tmp/bench.log"
  "$build/bench/gen_logs" --type apache --size "$size" --seed 1 -o "$log"
fi

variants=(log jsonl csv report)
run() {  # run VARIANT [PREFIX...]: one scan writing that variant's output
  local variant=$1
  shift
  case $variant in
    log) "$@" "$cli" scan -q -j "$jobs" -t "$type" -o "$tmp/out.log" "$log" ;;
    jsonl | csv) "$@" "$cli" scan -q -j "$jobs" -t "$type" --format "$variant" \
      -o "$tmp/out.$variant" "$log" ;;
    report) "$@" "$cli" scan -q -j "$jobs" -t "$type" -o "$tmp/out.log" \
      --report "$tmp/out.html" "$log" ;;
  esac
}

echo "load before: $(uptime | sed 's/.*load average/load average/')"
for ((i = 0; i < rounds; i++)); do
  for variant in "${variants[@]}"; do
    run "$variant" /usr/bin/time -f '%U %S' -a -o "$tmp/cpu.$variant" || [[ $? -eq 1 ]]
  done
done
echo "load after:  $(uptime | sed 's/.*load average/load average/')"
hits=$(($(wc -l <"$tmp/out.log") - 1))
printf '%-8s %12s %10s   (%s, -t %s -j %s, %d rounds, %d hits)\n' output "user+sys s" \
  "vs log" "$(basename "$log")" "$type" "$jobs" "$rounds" "$hits"
base=
for variant in "${variants[@]}"; do
  median=$(awk '{print $1 + $2}' "$tmp/cpu.$variant" | sort -n |
    awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}')
  base=${base:-$median}
  printf '%-8s %12.2f %+9.1f%%\n' "$variant" "$median" "$(awk -v a="$median" -v b="$base" 'BEGIN {print (a / b - 1) * 100}')"
done

if ((callgrind > 0)); then
  command -v valgrind >/dev/null || { echo "hit_outputs: valgrind is not installed" >&2; exit 2; }
  head -n "$callgrind" "$log" >"$tmp/prefix.log"
  log="$tmp/prefix.log"
  echo "instructions on the first $callgrind lines (valgrind --tool=callgrind):"
  base=
  for variant in "${variants[@]}"; do
    run "$variant" valgrind --tool=callgrind --callgrind-out-file=/dev/null 2>"$tmp/cg" ||
      [[ $? -eq 1 ]]
    count=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/cg")
    base=${base:-$count}
    printf '%-8s %16s %+9.2f%%\n' "$variant" "$count" "$(awk -v a="$count" -v b="$base" 'BEGIN {print (a / b - 1) * 100}')"
  done
fi
