#!/usr/bin/env bash
# The whole test suite on a fresh machine: packages, build, register the
# component server, run every test. Exits with the suite's status.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DMARQUEN_WERROR=ON
if [ -x build/bin/regsvr ] && [ -f build/bin/libquorlink.so ]; then
  build/bin/regsvr build/bin/libquorlink.so
fi
ctest --test-dir build --output-on-failure -j2 --timeout 300
