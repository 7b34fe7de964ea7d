#!/usr/bin/env bash
# name_lookup_test.sh BIN_DIR: a network printer named by a host name
# whose name service takes the question and never answers. marquen-cli must
# give up within its connect time-out (5 s) with a clear message, where the
# resolver alone would wait 30 s. Runs in a user, mount and network namespace
# of its own (a loopback name server, our resolv.conf); exits 77 (skipped)
# where the system allows no such namespace.
set -euo pipefail
bin=$(realpath "$1")
cli=$bin/marquen-cli
if ! unshare -rmn true 2>/dev/null; then
  echo "user namespaces are not available here"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# This build's server, registered for this test alone.
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/no-system-config
"$bin/regsvr" "$bin/libquorlink.so" >/dev/null
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:1\n' > "$work/resolv.conf"
unshare -rmn bash -eu -c '
  work=$1 cli=$2
  ip link set lo up
  mount --bind "$work/resolv.conf" /etc/resolv.conf
  python3 -c "
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((\"127.0.0.1\", 53))
open(\"$work/listening\", \"w\").close()
time.sleep(60)" &
  server=$!
  for _ in $(seq 50); do [ -e "$work/listening" ] && break; sleep 0.1; done
  start=$(date +%s)
  status=0
  timeout 25 "$cli" memory --port tcp://printer.marquen.example:9100 > "$work/out" 2> "$work/err" || status=$?
  echo "$status $(( $(date +%s) - start ))" > "$work/result"
  kill $server
' _ "$work" "$cli"
read -r status seconds < "$work/result"
echo "exit status $status after about $seconds s"
cat "$work/err"
failed=0
[ "$status" -eq 1 ] || { echo "FAIL: expected exit status 1 (124 means it hung until the guard)"; failed=1; }
grep -q "printer.marquen.example" "$work/err" || { echo "FAIL: the message does not name the host"; failed=1; }
[ "$seconds" -le 15 ] || { echo "FAIL: gave up only after $seconds s"; failed=1; }
exit $failed
