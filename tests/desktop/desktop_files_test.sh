#!/usr/bin/env bash
# Checks of the desktop integration files, as the desktop's own tools see them:
#   desktop_files_test.sh entry     SOURCE_DIR
#   desktop_files_test.sh metainfo  SOURCE_DIR
#   desktop_files_test.sh installed CMAKE BUILD_DIR
#   desktop_files_test.sh mime      CMAKE BUILD_DIR MARQUEN_CLI SOURCE_DIR
# "installed" and "mime" install resources/desktop into a temporary root with
# the prefix /usr, as the package does. Exits 0 when every check holds. A
# missing tool is a failure: scripts/install-deps.sh installs them all.
set -u
case_name=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  printf 'FAIL %s\n' "$*"
  failures=$((failures + 1))
}

# need TOOL PACKAGE: stops the case when TOOL is missing.
need() {
  command -v "$1" >/dev/null || { echo "FAIL $1 is not installed (Debian package $2; scripts/install-deps.sh installs it)"; exit 1; }
}

# install_tree CMAKE BUILD_DIR: installs the desktop files under $work/root/usr.
install_tree() {
  root=$work/root
  share=$root/usr/share
  "$1" -DCMAKE_INSTALL_PREFIX="$root/usr" -P "$2/resources/desktop/cmake_install.cmake" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; echo "FAIL installing resources/desktop"; exit 1; }
}

# mime_types_of FILE: the MIME types a file names, one a line, sorted.
mime_types_of() {
  case $1 in
    *.xml) grep -o '<mime-type type="[^"]*"' "$1" | sed 's/.*type="//; s/"$//' ;;
    *.desktop) sed -n 's/^MimeType=//p' "$1" | tr ';' '\n' | sed '/^$/d' ;;
  esac | sort -u
}

case $case_name in
entry)
  need desktop-file-validate desktop-file-utils
  # Errors, warnings and hints alike: the entry should draw none.
  out=$(desktop-file-validate "$1/resources/desktop/marquen.desktop" 2>&1)
  status=$?
  [ $status -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate (status $status): $out"
  ;;

metainfo)
  need appstreamcli appstream
  # --strict: warnings and infos fail too; only pedantic notes may stay.
  out=$(appstreamcli validate --no-net --strict "$1/resources/desktop/org.marquen.Marquen.metainfo.xml" 2>&1) ||
    fail "appstreamcli validate: $out"
  ;;

installed)
  need appstreamcli appstream
  install_tree "$1" "$2"
  for f in applications/marquen.desktop metainfo/org.marquen.Marquen.metainfo.xml mime/packages/marquen.xml \
           icons/hicolor/scalable/apps/marquen.svg; do
    [ -f "$share/$f" ] || fail "not installed: /usr/share/$f"
  done
  # Every fixed size, with a PNG of that size (width and height from its header).
  for size in 16 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/marquen.png
    if [ ! -f "$png" ]; then
      fail "not installed: ${png#$root}"
      continue
    fi
    read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
    actual="$((w0 << 24 | w1 << 16 | w2 << 8 | w3))x$((h0 << 24 | h1 << 16 | h2 << 8 | h3))"
    [ "$actual" = "${size}x${size}" ] || fail "${png#$root} is $actual"
  done
  # The metainfo finds its desktop entry and icon in the installed tree.
  out=$(appstreamcli validate-tree --no-net --strict "$root" 2>&1) || fail "appstreamcli validate-tree: $out"
  # The entry, the metainfo and the MIME package name the same printer types.
  mime_types_of "$share/mime/packages/marquen.xml" >"$work/defined"
  [ -s "$work/defined" ] || fail "marquen.xml defines no type"
  mime_types_of "$share/applications/marquen.desktop" >"$work/opened"
  missing=$(comm -23 "$work/defined" "$work/opened")
  [ -z "$missing" ] || fail "marquen.desktop does not open: $missing"
  grep -o '<mediatype>[^<]*</mediatype>' "$share/metainfo/org.marquen.Marquen.metainfo.xml" |
    sed 's/<[^>]*>//g' | sort -u >"$work/provided"
  diff -u "$work/defined" "$work/provided" >/dev/null || fail "metainfo mediatypes differ from marquen.xml: $(diff "$work/defined" "$work/provided" | tr '\n' ' ')"
  ;;

mime)
  need update-mime-database shared-mime-info
  need gio libglib2.0-bin
  install_tree "$1" "$2"
  cli=$3
  source_dir=$4
  mkdir -p "$work/files" "$work/data-home"
  files=$work/files
  sample=$source_dir/resources/samples/marquen-logo.bmp

  # The files the desktop meets: one of each printer format written by
  # marquen-cli, the same logo without a name and after another command,
  # text logs, a log with binary bytes, and a picture.
  for t in LOGO:log:logo EPSON_GFX:gfx:epson-gfx RASTER_GFX:gfx:raster-gfx RASTER_GFX_EXT:gfx:raster-gfx-ext; do
    IFS=: read -r type ext name <<<"$t"
    "$cli" convert "$sample" "$files/shop-$name.$ext" --type "$type" >/dev/null 2>&1 || fail "marquen-cli convert to $type"
  done
  for name in logo epson-gfx raster-gfx raster-gfx-ext; do
    cp "$files/shop-$name."* "$files/$name-without-extension"
  done
  # An initialisation (ESC @) before the logo: the readers look for the logo
  # command anywhere in the first 128 bytes.
  { printf '\033@\r\n'; cat "$files/shop-logo.log"; } >"$files/prefixed.log"
  printf '2026-12-08 09:00:01 INFO started\n2026-12-08 09:00:02 WARN disk 91%% full\n' >"$files/syslog.log"
  printf '\033[32mOK\033[0m service started\n\033[31mERROR\033[0m port 9100 refused\n' >"$files/colour.log"
  printf 'run 1\0\001\002 checkpoint\n' >"$files/binary.log"
  # A lone 0x11 is no raster picture: a second line must begin in the next 128 bytes.
  { printf '\021'; head -c 300 /dev/zero; } >"$files/lone-dc1"
  cp "$sample" "$files/sample.bmp"

  # expect_type FILE TYPE: the type GIO (file managers, the file chooser,
  # gio open) gives FILE with the database of XDG_DATA_DIRS.
  expect_type() {
    local actual
    actual=$(gio info -a standard::content-type "$files/$1" 2>&1 | sed -n 's/^ *standard::content-type: //p')
    [ "$actual" = "$2" ] || fail "$layout: $1: expected $2, got ${actual:-nothing}"
  }
  # build_database DATA_DIR: compiles DATA_DIR/mime/packages; no complaint allowed.
  build_database() {
    local out
    out=$(update-mime-database "$1/mime" 2>&1) || fail "update-mime-database $1/mime: $out"
    [ -z "$out" ] || fail "update-mime-database complained: $out"
  }
  export XDG_DATA_HOME=$work/data-home

  # As installed by the package: the system's MIME packages and ours compiled
  # into one database, as /usr/share/mime is after the package's trigger.
  layout=installed
  merged=$work/merged
  mkdir -p "$merged/mime/packages"
  cp /usr/share/mime/packages/*.xml "$share/mime/packages/marquen.xml" "$merged/mime/packages/"
  export XDG_DATA_DIRS=$merged
  build_database "$merged"
  checks_both_layouts() {
    for name in logo epson-gfx raster-gfx raster-gfx-ext; do
      ext=gfx
      [ $name = logo ] && ext=log
      expect_type "shop-$name.$ext" "application/x-marquen-$name"
    done
    # The bytes decide even without a name (and the tie of the three *.gfx
    # globs is settled by them, not by the order of the types).
    for name in logo epson-gfx raster-gfx raster-gfx-ext; do
      expect_type "$name-without-extension" "application/x-marquen-$name"
    done
    expect_type lone-dc1 application/octet-stream
    expect_type prefixed.log application/x-marquen-logo
    expect_type syslog.log text/x-log
    expect_type sample.bmp image/bmp
  }
  checks_both_layouts
  # Logs that do not look like text (colour escapes, binary bytes) match no
  # magic; GIO then settles the tie of the two *.log globs by the order of the
  # database, where text/x-log comes first because the system's package is
  # read before marquen.xml. (In the overlay below ours come first, so there
  # such logs would be ours: the package installs into the system's database.)
  expect_type colour.log text/x-log
  expect_type binary.log text/x-log
  # GIO sniffs whenever several globs match, whatever their weights; readers
  # that follow the shared MIME rules to the letter keep only the heaviest
  # globs, so a lighter *.log would never reach our magic there, and a
  # heavier one would take every log without looking.
  weights=$(sed -n 's/^\([0-9]*\):\(text\/x-log\|application\/x-marquen-logo\):\*\.log$/\1/p' "$merged/mime/globs2" | sort -u)
  [ "$weights" = 50 ] || fail "the *.log globs of text/x-log and ours weigh: $(echo $weights)"

  # Ours in a database of its own over the system's (an installation under
  # another prefix or in the user's data folder).
  layout=overlay
  export XDG_DATA_DIRS=$share:/usr/share
  build_database "$share"
  checks_both_layouts
  ;;

*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks of $case_name hold"
