#!/usr/bin/env bash
# marquen-cli's USB commands as a user types them, against the virtual USB
# printer: `vprinter --usb [OPTIONS] -- usb_commands_test.sh CASE BIN_DIR
# SOURCE_DIR` (CMake registers each case with the printer it needs; the
# "absent" case runs without one). Exits 0 when every check of the case holds.
set -u
case_name=$1
bin=$2
source_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
"$bin/regsvr" "$bin/libquorlink.so" >/dev/null || { echo "regsvr failed"; exit 1; }
cli=$bin/marquen-cli
failures=0

# check NAME EXPECTED ACTUAL
check() {
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

# run EXPECTED_STATUS ARGS...: runs marquen-cli; stdout in $out, stderr in $err.
run() {
  local expected=$1
  shift
  "$cli" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  check "exit status of marquen-cli $*" "$expected" "$status"
}

case $case_name in
absent)
  run 1 usb-search
  check "search without a printer" $'connected: 0\ndriver: ' "$out"
  run 1 usb-driver --install
  check "install without a printer" $'The HardwareId does not match any device on the machine.\nYour printer seems not to be connected.' "$err"
  run 1 memory --port USB --yes
  check "a command without a printer" "Your printer has not been found by the system. Please verify that your printer is well connected and powered on." "$err"
  run 2 usb-driver
  run 2 usb-driver --install --restore "USB Printing Support"
  run 2 usb-driver --restore ""
  ;;
search-usblp)
  run 0 usb-search
  check "search on usblp" $'connected: 1\ndriver: USB Printing Support' "$out"
  ;;
search-maker)
  run 0 usb-search
  check "search on the maker's driver" $'connected: 1\ndriver: ' "$out"
  ;;
switch)
  run 0 usb-driver --install
  check "install says nothing" "" "$err"
  run 0 usb-search
  check "after install" $'connected: 1\ndriver: ' "$out"
  run 0 usb-driver --restore "USB Printing Support"
  run 0 usb-search
  check "after restore" $'connected: 1\ndriver: USB Printing Support' "$out"
  run 1 usb-driver --restore "No Such Driver"
  # A program folder without "USB Driver/vantrex.inf": the program with its
  # own libraries, which it finds beside itself.
  cp "$cli" "$work/marquen-cli"
  cp "$(dirname "$cli")"/*.so "$work/"
  "$work/marquen-cli" usb-driver --install >"$work/out" 2>"$work/err"
  check "install without the information file" "1 File not found" "$? $(cat "$work/err")"
  run 0 usb-search
  check "a failed install changes nothing" $'connected: 1\ndriver: USB Printing Support' "$out"
  ;;
transfer)
  logo=$source_dir/resources/samples/marquen-logo.bmp
  # Without --yes the switch is declined: nothing is sent.
  run 1 download "$logo" --logo 5 --port USB
  check "declined switch" "marquen-cli: the driver was not switched (--yes switches it); nothing was sent" \
    "$(printf '%s\n' "$err" | tail -n 1)"
  run 1 upload "$work/none.bmp" --logo 5 --port USB --yes
  check "slot 5 is still empty" "" "$(ls "$work/none.bmp" 2>/dev/null)"
  run 0 download "$logo" --logo 5 --port USB --yes
  check "download" "logo 5: 17284 bytes, checksum 0235 confirmed by the printer" "$out"
  check "switched back at the end" "Do you want to re-load \"USB Printing Support\" driver ?" \
    "$(printf '%s\n' "$err" | tail -n 1)"
  run 0 usb-search
  check "handed back after the command" $'connected: 1\ndriver: USB Printing Support' "$out"
  run 0 upload "$work/up.bmp" --logo 5 --port USB --yes
  check "upload" "logo uploaded: 576 x 240 dots, written to $work/up.bmp" "$out"
  run 0 info "$work/up.bmp"
  uploaded=$out
  run 0 info "$logo"
  check "the uploaded logo has the downloaded one's size" "$out" "$uploaded"
  ;;
report)
  run 0 usb-report
  check "report banner" "*************************************************" "$(head -n 1 "$work/out" | tr -d '\r')"
  check "report lines end in CR LF" "$(wc -l <"$work/out")" "$(grep -c $'\r$' "$work/out")"
  check "report names the printer" "1" "$(grep -c $'^idVendor            = 0xF5A7\r$' "$work/out")"
  ;;
report-held)
  run 1 usb-report
  check "report of a printer usblp holds" "" "$out"
  ;;
*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
exit $((failures > 0))
