#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the fuzzers need, when
# any is missing. Safe to run again: it does nothing once all are there.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libwxgtk3.2-dev libusb-1.0-0-dev libudev-dev libgtest-dev libgmock-dev
  libbenchmark-dev xvfb xauth xdotool imagemagick x11-apps x11-utils umockdev libumockdev-dev
  python3-markdown weasyprint libvips-dev libpng-dev python3-pil python3-numpy
  scdoc desktop-file-utils appstream shared-mime-info libglib2.0-bin lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
"$(dirname "$0")/install-udev-rule.sh"
