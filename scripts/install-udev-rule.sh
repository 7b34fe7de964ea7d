#!/usr/bin/env bash
# Installs the udev rule that lets the logged-in user use the maker's USB
# printers (see the README's "USB printers"). Does nothing where there is no
# udev (a container) or the rule is already in place; never fails the set-up.
set -u
cd "$(dirname "$0")/.."
rule=resources/udev/70-marquen-vantrex-printer.rules
target=/etc/udev/rules.d/$(basename "$rule")
[ -d /etc/udev/rules.d ] || exit 0
cmp -s "$rule" "$target" 2>/dev/null && exit 0
# Never waits for a password: without root or password-less sudo it only
# says how.
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo -n"
if $sudo_cmd cp "$rule" "$target" 2>/dev/null; then
  echo "Installed $target"
  command -v udevadm >/dev/null && $sudo_cmd udevadm control --reload >/dev/null 2>&1
else
  echo "To use a USB printer without root: sudo cp $rule /etc/udev/rules.d/"
fi
exit 0
