#!/usr/bin/env bash
# ostrel-cli update end to end against a local server: a manifest that is no text fails,
# and an interrupted check or download leaves no partial file behind.
# Usage: update_cli_test.sh OSTREL_CLI WORK_DIR
set -euo pipefail
# Job control, so background commands receive SIGINT as a foreground one would.
set -m
cli=$1 work=$2
rm -rf "$work"
mkdir -p "$work/bin"
# A copy in a folder of its own: the portable layout keeps every update file there.
cp "$cli" "$work/bin/ostrel-cli"
cli="$work/bin/ostrel-cli"

python3 - "$work/port" <<'EOF' &
import http.server, sys, time

class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        port = self.server.server_address[1]
        if self.path == "/garbage.ini":
            self.reply(b"[a]\nName=a.dat\nVer=1\n\x00\x01\x02\xff")
        elif self.path == "/update.ini":
            self.reply(b"[a]\nName=slow.bin\nVer=1\nURL=http://127.0.0.1:%d/slow.bin\n" % port)
        else:  # /slow.ini, /slow.bin: a few bytes a second, never the whole body
            self.send_response(200)
            self.send_header("Content-Length", "1000000")
            self.end_headers()
            try:
                for _ in range(300):
                    self.wfile.write(b"[")
                    self.wfile.flush()
                    time.sleep(0.2)
            except OSError:
                pass

    def reply(self, body):
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(sys.argv[1] + ".part", "w") as out:
    out.write(str(server.server_address[1]))
import os
os.rename(sys.argv[1] + ".part", sys.argv[1])
server.serve_forever()
EOF
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -f "$work/port" ]] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")"

fail() {
  echo "update_cli_test: $*" >&2
  ls -A "$work/bin" >&2
  exit 1
}

# Only the copied program may remain in its folder.
expect_clean_folder() {
  local left
  left=$(ls -A "$work/bin" | grep -v -x ostrel-cli || true)
  [[ -z "$left" ]] || fail "$1 left: $left"
}

# A binary manifest is a failed check, not "nothing newer".
status=0
out=$("$cli" update --check --server "$url/garbage.ini" 2>"$work/err") || status=$?
[[ $status -eq 1 ]] || fail "binary manifest: exit status $status, expected 1"
[[ "$out" != *"已是最新版"* ]] || fail "binary manifest reported as up to date"
grep -q "检测升级文件失败!" "$work/err" || fail "binary manifest: $(cat "$work/err")"
expect_clean_folder "binary manifest"

# interrupt NAME SIGNAL PART_GLOB SERVER_PATH: starts an update, waits until its partial
# file exists, sends SIGNAL and expects exit status 130 and a clean folder.
interrupt() {
  local name=$1 signal=$2 part=$3 path=$4
  "$cli" update --server "$url$path" >/dev/null 2>"$work/err" &
  local pid=$! started=0
  for _ in $(seq 100); do
    if compgen -G "$work/bin/$part" >/dev/null; then started=1; break; fi
    sleep 0.1
  done
  [[ $started -eq 1 ]] || { kill -KILL "$pid"; fail "$name: no partial file appeared"; }
  kill "-$signal" "$pid"
  local status=0
  wait "$pid" || status=$?
  [[ $status -eq 130 ]] || fail "$name: exit status $status, expected 130 ($(cat "$work/err"))"
  expect_clean_folder "$name"
}

interrupt "SIGINT during the check" INT '.tmp.ini.part-*' /slow.ini
interrupt "SIGTERM during a download" TERM '.slow.bin.part-*' /update.ini
echo "update_cli_test: ok"
