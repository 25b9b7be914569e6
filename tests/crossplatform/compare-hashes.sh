#!/usr/bin/env bash
# compare-hashes.sh LINUX_PROGRAM LINUX_BUNDLES LINUX_OUT WINDOWS_OUT
#                   WINDOWS_COMMAND... WINDOWS_BUNDLES
#
# Runs the render table natively on Linux and through WINDOWS_COMMAND (the
# Windows program under Wine) once on each vector path, keeps the listings,
# and fails unless every Windows listing is the Linux one, naming each case
# that differs. (A path the processor lacks falls back to the next below.)
set -uo pipefail
linux_program=$1 linux_bundles=$2 linux_out=$3 windows_out=$4
shift 4
if [ ! -x "$linux_program" ]; then
  echo "no Linux build to compare with at $linux_program: run 'make test-windows', which builds it first" >&2
  exit 1
fi
"$linux_program" "$linux_bundles" >"$linux_out" || {
  echo "the Linux renders failed:" >&2
  grep failed "$linux_out" >&2
  exit 1
}
cases=$(wc -l <"$linux_out")
failed=0
for path in scalar sse4 avx2 avx512; do
  QFX_SIMD=$path "$@" | tr -d '\r' >"$windows_out.$path"
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ] || ! cmp -s "$linux_out" "$windows_out.$path"; then
    echo "Windows on the $path path (exit status $status) and Linux differ; Windows then Linux:" >&2
    diff "$windows_out.$path" "$linux_out" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "$cases cases: every hash equal on Windows, on every vector path, and on Linux"
