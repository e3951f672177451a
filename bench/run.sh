#!/bin/sh
# Builds the linux32 preset's benchmark when needed, runs it and prints the
# table with ratios. Arguments go to the benchmark, for example
#   bench/run.sh --benchmark_filter=Fixed --benchmark_repetitions=3
# The JSON of the run is kept in build/linux32/bench/latest.json.
set -eu
cd "$(dirname "$0")/.."

if ! dpkg -s libbenchmark-dev:i386 >/dev/null 2>&1; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
    $sudo_cmd dpkg --add-architecture i386
    $sudo_cmd apt-get update
    $sudo_cmd apt-get install -y libbenchmark-dev:i386
fi
cmake --preset linux32 >/dev/null  # finds the package once it is there
cmake --build --preset linux32 --target latch_bench

out=build/linux32/bench/latest.json
build/linux32/bench/latch_bench --benchmark_format=json --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 "$@" >"$out"
python3 bench/report.py "$out"
