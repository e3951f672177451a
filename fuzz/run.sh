#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given seconds
# (default 30), starting from the seeds in fuzz/corpus/<target>/ plus what
# earlier runs here found. Prints executions and coverage per target; fails on
# any finding (a mismatch, a crash or a sanitizer report), whose input is kept
# in build/fuzz/findings/. Replay one: build/fuzz/<target> <file>
#   fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_fixed_threshold fuzz_complementary fuzz_variable_threshold)

cmake -S fuzz -B build/fuzz -G Ninja >/dev/null
cmake --build build/fuzz >/dev/null

# LeakSanitizer stops the world with ptrace, which qemu-user does not offer;
# leaks are valgrind's job (scripts/memcheck.sh).
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build/fuzz/findings
status=0
summary=()
for target in "${targets[@]}"; do
    work=build/fuzz/corpus/$target
    mkdir -p "$work"
    log=build/fuzz/$target.log
    echo "== $target: ${seconds}s"
    # A 32-bit program under qemu-user cannot list these folders (readdir overflows on
    # 64-bit directory offsets), so the inputs go in by name; new ones are written to $work.
    seeds=build/fuzz/$target.seeds
    find "fuzz/corpus/$target" "$work" -type f | paste -sd, - >"$seeds"
    rc=0
    timeout $((seconds * 3 + 120)) "build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -max_len=512 -timeout=60 -rss_limit_mb=3072 -detect_leaks=0 -seed_inputs=@"$seeds" \
        -artifact_prefix="build/fuzz/findings/$target-" "$work" >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$done_line")
    line="$target: ${runs:-?} executions (${rate:-?}/s), coverage ${cov:-?} edges, ${ft:-?} features, corpus ${corp:-?}"
    if [ "$rc" -ne 0 ] || grep -qE 'FINDING|ERROR: (Address|Leak|Undefined)Sanitizer|runtime error|deadly signal' "$log"; then
        status=1
        line="$line: FINDING (exit $rc)"
        grep -m1 -A12 -E 'FINDING|ERROR: |runtime error|deadly signal' "$log" || tail -20 "$log"
        grep -E 'Test unit written to' "$log" || true
    fi
    echo "$line"
    summary+=("$line")
done
echo
echo "fuzz summary:"
printf '  %s\n' "${summary[@]}"
exit $status
