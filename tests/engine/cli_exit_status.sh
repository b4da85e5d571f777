#!/usr/bin/env bash
# Runs `ostrel-cli scan` and checks its exit status.
# Usage: cli_exit_status.sh CLI EXPECTED_STATUS SCAN_ARGS...
# Exits 77 (skipped) when the build has no QQWry.dat beside the CLI.
set -u
cli=$1
expected=$2
shift 2
if [[ ! -f "$(dirname "$cli")/QQWry.dat" ]]; then
  echo "no QQWry.dat beside $cli: skipped"
  exit 77
fi
out=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-cli-test.XXXXXX")
trap 'rm -rf "$out"' EXIT
# A log without attacks, for the no-hit case.
printf '8.8.8.8 - - [01/Dec/2026:10:00:00 +0800] "GET /index.html HTTP/1.1" 200 512 "-" "curl/8.5.0"\n' \
  >"$out/clean.log"
args=()
for arg in "$@"; do args+=("${arg//@TMP@/$out}"); done
"$cli" scan -q -o "$out/1.log" "${args[@]}"
status=$?
if [[ $status -ne $expected ]]; then
  echo "ostrel-cli scan ${args[*]}: exit status $status, expected $expected" >&2
  exit 1
fi
# Every status but a usage error leaves a result file that starts with the header.
if [[ $status -le 1 ]] && ! head -c 9 "$out/1.log" | grep -q .; then
  echo "no result file" >&2
  exit 1
fi
exit 0
