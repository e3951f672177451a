#!/usr/bin/env bash
# Every test: installs what is missing, builds the three presets, runs the
# linux32, linux32-asan and win32 (Wine) suites (plughost validate on all ten
# deliverables among them), then the reliability checks: fuzzing, valgrind
# memcheck and a bounded soak run.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
scripts/setup.sh
scripts/build.sh linux32 linux32-asan win32
status=0
for preset in linux32 linux32-asan win32; do
    echo "== $preset"
    ctest --preset "$preset" -j2 || status=1
done
echo "== reliability"
scripts/reliability.sh || status=1
echo "test.sh: $([ $status -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - started)) s"
exit $status
