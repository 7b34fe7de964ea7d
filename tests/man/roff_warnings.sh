#!/usr/bin/env bash
# roff_warnings.sh MAN DIR PAGE...: formats each DIR/PAGE.1 as lintian does and
# fails when man or groff says anything about it.
set -u
man=$1
dir=$2
shift 2
status=0
for page in "$@"; do
  file=$dir/$page.1
  if [ ! -s "$file" ]; then
    echo "$file is missing: build the target man_pages" >&2
    status=1
    continue
  fi
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 "$man" --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page(1):" >&2
    echo "$warnings" >&2
    status=1
  fi
done
exit $status
