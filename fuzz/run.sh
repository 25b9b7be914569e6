#!/usr/bin/env bash
# Runs each effect's fuzz target for a bounded time.
#   fuzz/run.sh [BUILD_DIR] [SECONDS_PER_EFFECT] [EFFECT...]
# Starts from the committed seeds in fuzz/corpus/<effect>/ and keeps what
# it finds in BUILD_DIR/fuzz-corpus/<effect>/ (the committed seeds are only
# read). A crash, a sanitizer report, a leak or a broken promise of the
# effect stops the run with the input saved in BUILD_DIR/fuzz-artifacts/
# and a non-zero exit.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build-fuzz}"
seconds="${2:-60}"
shift $(( $# > 2 ? 2 : $# ))
effects=("$@")
[ ${#effects[@]} -gt 0 ] || effects=(tintrow rimlet)

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

status=0
for effect in "${effects[@]}"; do
  target="$build/fuzz/fuzz_$effect"
  if [ ! -x "$target" ]; then
    echo "fuzz: $target is not built (cmake --build --preset fuzz)" >&2
    exit 2
  fi
  corpus="$build/fuzz-corpus/$effect"
  artifacts="$build/fuzz-artifacts/$effect/"
  mkdir -p "$corpus" "$artifacts"
  # 0 seconds replays the committed seeds once: a deterministic check that
  # no known input crashes, fit for a CI run that must not be flaky.
  if [ "$seconds" = 0 ]; then
    limit=(-runs=0)
    echo "== replaying the $effect seeds"
  else
    limit=(-max_total_time="$seconds")
    echo "== fuzzing $effect for ${seconds}s"
  fi
  if ! "$target" "${limit[@]}" -timeout=20 -rss_limit_mb=2048 \
      -max_len=1024 -print_final_stats=1 -artifact_prefix="$artifacts" \
      "$corpus" "$here/corpus/$effect"; then
    echo "fuzz: $effect FAILED; the input is in $artifacts" >&2
    status=1
  fi
done
exit $status
