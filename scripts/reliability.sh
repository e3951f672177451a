#!/usr/bin/env bash
# The reliability checks, failing on any finding: the fuzz targets (30 s each
# by default), valgrind memcheck, and a bounded soak run over the built files.
# The fuzzers run beside memcheck (each takes one core) to keep the wall time down.
#   scripts/reliability.sh
#   FUZZ_SECONDS=N SOAK_SAMPLES=N scripts/reliability.sh   # other lengths
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${FUZZ_SECONDS:-30}
soak_samples=${SOAK_SAMPLES:-10000000}
started=$(date +%s)

cmake --preset linux32 >/dev/null
cmake --build --preset linux32 >/dev/null
cmake -S fuzz -B build/fuzz -G Ninja >/dev/null
cmake --build build/fuzz >/dev/null

mkdir -p build/reliability
fuzz_log=build/reliability/fuzz.log
fuzz/run.sh "$fuzz_seconds" >"$fuzz_log" 2>&1 &
fuzz_pid=$!

status=0
echo "== memcheck"
scripts/memcheck.sh || status=1

echo "== soak: $soak_samples samples through each deliverable"
build/linux32/tests/soak --samples "$soak_samples" || status=1

echo "== fuzz: ${fuzz_seconds}s per target"
fuzz_status=0
wait "$fuzz_pid" || fuzz_status=$?
cat "$fuzz_log"
[ "$fuzz_status" -eq 0 ] || status=1

echo
echo "reliability: $([ $status -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - started)) s"
exit $status
