#!/usr/bin/env bash
# valgrind memcheck over the linux32 test suites, a short soak run over the
# built files and `plughost validate` on every deliverable. Fails on any
# error or definite/indirect leak. Builds linux32 first.
#   scripts/memcheck.sh
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset linux32 >/dev/null
cmake --build --preset linux32 >/dev/null

tests=build/linux32/tests
dist=dist/linux32
# Some suites replace operator new to count allocations; nouserintercepts
# leaves those replacements in place (valgrind still sees the malloc beneath).
valgrind_options=(--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect --track-origins=yes
    --soname-synonyms=somalloc=nouserintercepts -q)

runs=()
add() { local IFS='|'; runs+=("$*"); }  # one run: its words joined by |
add "$tests/runtime_tests"
add "$tests/module_tests"
add "$tests/e2e_tests"
# Left out here, at minutes' cost under valgrind: the 10,000-instance cases only
# repeat what the smaller ones show, and the load/unload case reads malloc's
# own count, which valgrind replaces (e2e_tests loads and unloads every file).
add "$tests/hostile_tests" "--test-case-exclude=*live instances at once*,*again and again*"
# kernel_tests is left out too: pure arithmetic on arrays the test owns, which the
# sanitizer build and the guard zones of every suite already watch.
add "$tests/soak" --samples 200000

status=0
errors=0
for run in "${runs[@]}"; do
    IFS='|' read -r -a command <<<"$run"
    log=build/linux32/memcheck-$(basename "${command[0]}").log
    start=$(date +%s)
    if valgrind "${valgrind_options[@]}" "${command[@]}" >"$log" 2>&1; then
        echo "memcheck: ${command[*]}: clean ($(($(date +%s) - start)) s)"
    else
        status=1
        count=$(grep -cE '^==[0-9]+== (Invalid|Conditional|Use of|Syscall param|Mismatched|[0-9,]+ bytes in [0-9,]+ blocks are (definitely|indirectly))' "$log" || true)
        errors=$((errors + count))
        echo "memcheck: ${command[*]}: FAILED ($count valgrind errors; log $log)"
        grep -m40 -E '^==[0-9]+==|ERROR|FAIL' "$log" || tail -40 "$log"
    fi
done

# plughost validate over the five files, as a user runs it.
log=build/linux32/memcheck-validate.log
start=$(date +%s)
if valgrind "${valgrind_options[@]}" "$dist/plughost" validate "$dist"/*.sem >"$log" 2>&1; then
    echo "memcheck: plughost validate $dist/*.sem: clean ($(($(date +%s) - start)) s; $(tail -1 "$log"))"
else
    status=1
    echo "memcheck: plughost validate: FAILED (log $log)"
    grep -m40 -E '^==[0-9]+==|FAIL' "$log" || tail -40 "$log"
fi

echo "memcheck: $([ $status -eq 0 ] && echo "0 errors" || echo "FAILED, $errors valgrind errors counted")"
exit $status
