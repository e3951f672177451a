#!/usr/bin/env bash
# Every test: installs what is missing, builds the three presets and runs the
# linux32, linux32-asan and win32 (Wine) suites.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux32 linux32-asan win32
status=0
for preset in linux32 linux32-asan win32; do
    echo "== $preset"
    ctest --preset "$preset" -j2 || status=1
done
exit $status
