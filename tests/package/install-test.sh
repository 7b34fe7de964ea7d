#!/usr/bin/env bash
# install-test.sh DEB [SCREENSHOT_DIR]: installs the Debian package on this
# machine (needs root), uses it as an unprivileged user who has never run
# Marquen (the version, conversions, a download to a virtual printer, the
# desktop program under Xvfb), then purges it and checks that nothing of it
# is left. The machine's own Marquen build is not touched.
set -euo pipefail
deb=$(realpath "$1")
shots=${2:-}
[ "$(id -u)" -eq 0 ] || { echo "install-test.sh: run as root (it installs a package)" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
user=marquen-check
home=/home/$user
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
step() { echo "-- $*"; }

if dpkg-query -W -f='${Status}' marquen 2>/dev/null | grep -q "install ok installed"; then
  echo "install-test.sh: marquen is already installed here; remove it first" >&2
  exit 2
fi
id "$user" >/dev/null 2>&1 && userdel -r "$user" >/dev/null 2>&1 || true
useradd --create-home --shell /bin/bash "$user"
cleanup() {
  pkill -u "$user" >/dev/null 2>&1 || true
  userdel -r "$user" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Runs a shell script as the user, in a clean environment.
as_user() {
  runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    SAMPLE="$source_dir/resources/samples/marquen-logo.bmp" bash -euo pipefail -c "$1"
}

step "install $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
mapfile -t owned < <(dpkg -L marquen)

step "the layout: programs in /usr/bin, their libraries found through the run path"
for program in marquen marquen-cli vprinter; do
  [ -x /usr/bin/$program ] || fail "/usr/bin/$program is missing"
  # (grep reads all of it: with -q an early match would cut the pipe and
  # pipefail would hide the match.)
  if ldd /usr/bin/$program | grep "not found" >/dev/null; then
    fail "$program misses libraries: $(ldd /usr/bin/$program | grep 'not found' | tr -s ' \t' ' ')"
  fi
  runpath=$(readelf -d /usr/bin/$program | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = '$ORIGIN/../lib/x86_64-linux-gnu/marquen' ] || fail "$program's run path is '$runpath'"
done
if ldconfig -p | grep "libquorlink\|libmarquen" >/dev/null; then fail "a library of ours is on the system's library path"; fi
private=/usr/lib/x86_64-linux-gnu/marquen
[ -f "$private/user manual.pdf" ] || fail "the Help command's manual is not in $private"
[ -f "$private/USB Driver/vantrex.inf" ] || fail "the driver information file is not in $private"
grep -q "\"$private/libquorlink.so\"" /etc/xdg/quorlink/registry || fail "the system-wide registration does not name $private"
man -w marquen-cli >/dev/null || fail "man marquen-cli finds no page"
desktop-file-validate /usr/share/applications/marquen.desktop || fail "the desktop entry does not validate"

step "marquen-cli as $user, who never registered anything"
version=$(as_user 'marquen-cli --version') || fail "marquen-cli --version failed"
[ "$version" = "marquen-cli 1.0.0" ] || fail "marquen-cli --version printed '$version'"
as_user '
  cd "$HOME"
  cp "$SAMPLE" logo.bmp
  marquen-cli convert logo.bmp logo.log --type LOGO
  info=$(marquen-cli info logo.log)
  grep -q "^type: LOGO" <<<"$info"
' || fail "converting the sample bitmap to LOGO"
# A colour picture goes through the image module in the private folder.
convert "$source_dir/resources/samples/marquen-logo.bmp" -type TrueColor "$home/logo.png"
chown "$user:" "$home/logo.png"
as_user '
  cd "$HOME"
  marquen-cli convert logo.png dithered.gfx --type "RASTER GFX" --fit-width 128 --dither atkinson
  info=$(marquen-cli info dithered.gfx)
  grep -q "^width: 128" <<<"$info"
' || fail "converting a PNG (the image module)"

step "a download to vprinter on a pseudo-terminal named COM7"
as_user '
  cd "$HOME"
  vprinter --ignore-stdin > printer.path &
  printer=$!
  trap "kill $printer 2>/dev/null; wait $printer 2>/dev/null || true" EXIT
  for _ in $(seq 100); do [ -s printer.path ] && break; sleep 0.1; done
  mkdir -p .config/quorlink
  echo "COM7=$(head -1 printer.path)" > .config/quorlink/ports
  marquen-cli download logo.log --logo 3 --port COM7 --baud 115200 > download.out
  grep -q "confirmed by the printer" download.out
  marquen-cli upload back.bmp --logo 3 --port COM7 --baud 115200 --printer-version 1 > upload.out
  info=$(marquen-cli info back.bmp)
  grep -q "^type: BITMAP" <<<"$info"
' || fail "download and upload through the installed server"
[ ! -e "$home/.config/quorlink/registry" ] || fail "the user's own registry was written"

step "marquen under Xvfb"
as_user '
  cd "$HOME"
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -euo pipefail -c "
    marquen logo.bmp > marquen.log 2>&1 &
    program=\$!
    # The main window of this process (the wait dialog is a process of its
    # own), with the installed icon (found beside /usr/bin).
    window=
    for _ in \$(seq 60); do
      for candidate in \$(xdotool search --all --onlyvisible --pid \$program --name Marquen 2>/dev/null); do
        # A few bytes of it: a pipe to grep would cut the long answer short,
        # and pipefail would count that as no icon.
        icon=\$(xprop -len 16 -id \$candidate _NET_WM_ICON 2>/dev/null || true)
        case \"\$icon\" in *\"_NET_WM_ICON(CARDINAL) = \"*) window=\$candidate ;; esac
      done
      [ -n \"\$window\" ] && break
      sleep 0.5
    done
    if [ -z \"\$window\" ]; then
      echo \"no window of marquen with an icon\" >&2
      xdotool search --onlyvisible --name . getwindowname %@ >&2 || true
      kill \$program 2>/dev/null; cat marquen.log >&2; exit 1
    fi
    echo \"window: \$(xdotool getwindowname \$window)\"
    sleep 1
    import -window root installed-marquen.png || echo \"no screenshot\" >&2
    kill \$program
    for _ in \$(seq 50); do kill -0 \$program 2>/dev/null || exit 0; sleep 0.1; done
    kill -9 \$program; exit 1
  "
' || fail "marquen did not show its window with its icon (or did not end)"

# The picture of the window, for a person to look at.
if [ -n "$shots" ] && [ -f "$home/installed-marquen.png" ]; then
  mkdir -p "$shots"
  cp "$home/installed-marquen.png" "$shots/"
  echo "screenshot: $(realpath "$shots")/installed-marquen.png"
fi

step "purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq marquen >/dev/null
for path in "${owned[@]}"; do
  [ -d "$path" ] && continue
  if [ -e "$path" ] || [ -L "$path" ]; then fail "left after purge: $path"; fi
done
left=$(find /usr /etc/xdg -path '*marquen*' -o -path '*quorlink*' 2>/dev/null || true)
[ -z "$left" ] || fail "left after purge: $left"

if [ "$failures" -ne 0 ]; then
  echo "install-test.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "install-test.sh: installed, used by $user, purged: all checks passed"
