#!/bin/sh
# Runs every benchmark once and prints the table of ratios against the
# targets. Usage: bench/run.sh BUILD_DIR [extra benchmark options...]
# Each case is repeated a few times and its fastest run kept: the ratios
# are what matters, and other work on the machine only adds time.
set -eu

build=${1:-build-bench}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
binary="$build/bench/qfx_bench"
results="$build/bench/results.json"

if [ ! -x "$binary" ]; then
  echo "bench/run.sh: $binary is missing; build the bench preset first" >&2
  exit 1
fi

"$binary" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$results" --benchmark_out_format=json "$@"
echo
python3 "$here/ratios.py" "$results"
