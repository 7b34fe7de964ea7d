#!/usr/bin/env bash
# build-package.sh [BUILD_DIR]: builds the Debian package
# (BUILD_DIR/package/marquen_<version>_<arch>.deb, default BUILD_DIR
# build-package) with Debian's hardening flags, then checks it with lintian:
# any error, or a warning without an override, fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
scripts/install-deps.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS
scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DMARQUEN_BENCH=OFF
rm -f "$dir"/package/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/package/marquen_*.deb)
echo "Built $deb ($(du -k "$deb" | cut -f1) KiB)"
echo "lintian:"
# Errors and warnings fail the build. The package needs no overrides; one
# added later goes to packaging/debian/lintian-overrides, with its reason.
lintian --fail-on error,warning --info --display-info "$deb"
echo "lintian: no errors, no warnings without an override"
