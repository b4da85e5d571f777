#!/usr/bin/env bash
# ostrel-cli locate and qqwry-build end to end, on a database built from forms.txt.
# Usage: locate_cli_test.sh QQWRY_BUILD OSTREL_CLI TEST_DATA WORK_DIR
set -euo pipefail
build=$1 cli=$2 data=$3 work=$4
mkdir -p "$work"
db="$work/forms.dat"
"$build" "$data/ipdb/forms.txt" "$db"

check() {  # check NAME ACTUAL EXPECTED
  if [[ "$2" != "$3" ]]; then
    printf '%s:\n--- got\n%s\n--- expected\n%s\n' "$1" "$2" "$3" >&2
    exit 1
  fi
}

# Addresses from standard input: CRLF endings and blank lines are tolerated.
check stdin "$(printf '1.0.0.1\r\n\n2.0.0.0\n::1\n' | "$cli" locate --ipdb "$db")" \
  $'1.0.0.1\t美国 加利福尼亚\n2.0.0.0\t日本 东京\n::1\tIP格式不对'
check arguments "$("$cli" locate --ipdb "$db" 7.0.0.0 3.1.1.1)" \
  $'7.0.0.0\t未知数据\n3.1.1.1\t中国 未知地区'
check info "$("$cli" locate --ipdb "$db" --info)" \
  $'database\t'"$db"$'\nrecords\t17\ndate\t2024-01-17'

# A missing or unusable database: exit status 2 and the path on standard error.
printf 'not a database' > "$work/bad.dat"
for missing in "$work/missing.dat" "$work/bad.dat" "$work"; do
  status=0
  error=$("$cli" locate --ipdb "$missing" 1.2.3.4 2>&1 >/dev/null) || status=$?
  check "status for $missing" "$status" 2
  [[ "$error" == *"$missing"* ]] || { echo "error does not name $missing: $error" >&2; exit 1; }
done

# A bad description is refused with its file and line.
printf '0.0.0.0 inline "a" inline "b"\n1.0.0.0 sideways "a" inline "b"\n' > "$work/bad.txt"
status=0
error=$("$build" "$work/bad.txt" "$work/out.dat" 2>&1) || status=$?
check "qqwry-build status" "$status" 2
[[ "$error" == *"bad.txt:2: unknown country form 'sideways'"* ]] || { echo "$error" >&2; exit 1; }
echo "locate_cli_test: ok"
