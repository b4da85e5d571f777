#!/usr/bin/env bash
# Measures `ostrel-cli scan` against ripgrep with the same rule patterns, on the same
# generated log, in the same run: wall time, throughput and peak memory, on one core and
# on two.
#
# Usage: bench/scan_vs_rg.sh [--size 1G] [--all-types] [--build DIR] [--keep]
#   --size       size of each generated log (default 1G)
#   --all-types  also IIS and Tomcat logs (default: Apache only)
#   --build      build folder with bin/ostrel-cli, bench/gen_logs, bin/rulecrypt (default build)
#   --keep       keep the temporary folder
set -euo pipefail
cd "$(dirname "$0")/.."
size=1G
types=(apache)
build=build
keep=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --all-types) types=(apache iis tomcat); shift ;;
    --build) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) sed -n '2,12p' "$0" >&2; exit 2 ;;
  esac
done
cmake --build "$build" --target ostrel-cli gen_logs rulecrypt ipdb_file >/dev/null
cli="$build/bin/ostrel-cli"
gen="$build/bench/gen_logs"
rulecrypt="$build/bin/rulecrypt"
command -v rg >/dev/null || { echo "scan_vs_rg: ripgrep (rg) is not installed" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "scan_vs_rg: /usr/bin/time is not installed" >&2; exit 2; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-bench.XXXXXX")
cleanup() { if [[ $keep == 0 ]]; then rm -rf "$tmp"; else echo "kept $tmp"; fi; }
trap cleanup EXIT

# The compact set's patterns (slots 1 to 6), deciphered from the stored slot texts. Adjacent
# string literals of one slot are joined; a slot is a run of hexadecimal literals.
python3 - "${OSTREL_RULE_SLOTS_SOURCE:-rules/rule_slots.cc}" >"$tmp/slots.hex" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
literal = r'"([0-9A-Fa-f]+)"'
for m in re.finditer(r'(?:' + literal + r'\s*)+', text):
    hexes = ''.join(re.findall(literal, m.group(0)))
    if len(hexes) >= 32 and len(hexes) % 16 == 0:
        print(hexes)
PY
if [[ $(wc -l <"$tmp/slots.hex") -lt 6 ]]; then
  echo "scan_vs_rg: found fewer than 6 rule slots in rules/rule_slots.cc" >&2
  exit 2
fi
k=0
head -n 6 "$tmp/slots.hex" | while read -r hex; do
  k=$((k + 1))
  # ripgrep joins its patterns into one alternation, so each pattern's named groups get a
  # suffix of their own; one pattern per line.
  printf '%s' "$hex" | "$rulecrypt" decrypt | python3 -c '
import re, sys
k = sys.argv[1]
text = sys.stdin.read().rstrip("\r\n")
text = re.sub(r"\(\?<([A-Za-z_][A-Za-z0-9_]*)>", lambda m: "(?<" + m.group(1) + "_" + k + ">", text)
text = re.sub(r"\(\?&([A-Za-z_][A-Za-z0-9_]*)\)", lambda m: "(?&" + m.group(1) + "_" + k + ")", text)
print(text)' "$k"
done >"$tmp/patterns"
# ripgrep's own engine lacks look-around and back references; use PCRE2 when it needs them.
rg_engine=()
rg_status=0
rg -c -f "$tmp/patterns" /dev/null >/dev/null 2>&1 || rg_status=$?
if [[ $rg_status -gt 1 ]]; then rg_engine=(-P); fi
# PCRE2 may find the joined patterns too large to compile at once; ripgrep then searches
# once per pattern and its time is the sum of those runs.
rg_split=0
rg_status=0
rg "${rg_engine[@]}" -c -f "$tmp/patterns" /dev/null >/dev/null 2>&1 || rg_status=$?
if [[ $rg_status -gt 1 ]]; then
  rg_split=1
  split -l 1 -d "$tmp/patterns" "$tmp/pattern."
fi

# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
  local log="$tmp/time.txt" status=0
  /usr/bin/time -f '%e %M' -o "$log" "$@" >/dev/null 2>"$tmp/stderr.txt" || status=$?
  if [[ $status -gt 1 ]]; then
    echo "scan_vs_rg: '$*' failed ($status):" >&2
    cat "$tmp/stderr.txt" >&2
    exit 2
  fi
  tail -n 1 "$log"
}

echo "machine: $(nproc) cores, $(uname -r); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "ripgrep: $(rg --version | sed -n 1p) ${rg_engine[*]}$([[ $rg_split == 1 ]] && echo ', one run per pattern (summed)')"
for type in "${types[@]}"; do
  log="$tmp/$type.log"
  "$gen" --type "$type" --size "$size" --seed 1 -o "$log"
  bytes=$(stat -c %s "$log")
  lines=$(wc -l <"$log")
  gib=$(awk -v b="$bytes" 'BEGIN { printf "%.2f", b / 1073741824 }')
  echo
  echo "== $type: $gib GiB, $lines lines (seed 1)"
  # Warm the page cache so both programs read from memory.
  cat "$log" >/dev/null
  printf '%-28s %9s %9s %12s %10s\n' "" seconds "GB/s" "lines/s" "peak MiB"
  declare -A seconds=()
  for cores in 1 2; do
    cpus=$([[ $cores == 1 ]] && echo 0 || echo 0,1)
    read -r s_ours m_ours < <(measure taskset -c "$cpus" "$cli" scan --type "$type" \
      -j "$cores" -q -o "$tmp/1.log" "$log")
    if [[ $rg_split == 0 ]]; then
      read -r s_rg m_rg < <(measure taskset -c "$cpus" rg "${rg_engine[@]}" -j "$cores" -c \
        -f "$tmp/patterns" "$log")
    else
      s_rg=0
      m_rg=0
      for pattern in "$tmp"/pattern.*; do
        read -r s m < <(measure taskset -c "$cpus" rg "${rg_engine[@]}" -j "$cores" -c \
          -f "$pattern" "$log")
        s_rg=$(awk -v a="$s_rg" -v b="$s" 'BEGIN { print a + b }')
        m_rg=$((m > m_rg ? m : m_rg))
      done
    fi
    for who in ours rg; do
      s_var="s_$who"; m_var="m_$who"
      name=$([[ $who == ours ]] && echo "ostrel-cli scan -j$cores" || echo "rg -c -f -j$cores")
      awk -v n="$name" -v s="${!s_var}" -v b="$bytes" -v l="$lines" -v m="${!m_var}" \
        'BEGIN { if (s <= 0) s = 0.01; printf "%-28s %9.2f %9.3f %12.0f %10.1f\n", n, s, b / s / 1e9, l / s, m / 1024 }'
    done
    seconds["ours$cores"]=$s_ours
    seconds["rg$cores"]=$s_rg
  done
  awk -v a="${seconds[rg1]}" -v b="${seconds[ours1]}" -v c="${seconds[rg2]}" \
    -v d="${seconds[ours2]}" \
    'BEGIN { printf "ratio (rg time / ostrel time): one core %.2f, two cores %.2f\n", a / b, c / d }'
  echo "hits: $(($(wc -l <"$tmp/1.log") - 1)) lines in the result file"
  rm -f "$log"
done
