#!/usr/bin/env bash
# check-packages.sh against a build folder outside the source tree: what
# lies in that folder is the build's own and passes; a file beside it, even
# one whose name starts like the folder's, is still reported.
#
#   check-packages-test.sh CHECK_SCRIPT MAKEFILE
set -uo pipefail

check="$1"
makefile="$2"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
build="$scratch/build"
mkdir -p "$build/bin" "$scratch/build-other"
touch "$build/bin/tool" "$scratch/build-other/lib.so" "$scratch/stray.h"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The build's own folder, a file in it, and the same file through "..".
printf '%s\t%s\n' \
  QEffects_BINARY_DIR "$build" \
  tool "$build/bin/tool" \
  tool "$build/bin/../bin/tool" >"$build/build-references.txt"
output=$(bash "$check" "$build/build-references.txt" "$makefile")
status=$?
[ "$status" = 77 ] && { echo "$output"; exit 77; }
[ "$status" = 0 ] || fail "the build's own files were reported ($status): $output"

printf '%s\t%s\n' \
  own "$build/bin/tool" \
  sibling "$scratch/build-other/lib.so" \
  stray "$scratch/stray.h" >"$build/build-references.txt"
output=$(bash "$check" "$build/build-references.txt" "$makefile")
status=$?
[ "$status" = 1 ] || fail "files outside the build folder passed ($status): $output"
for outsider in "$scratch/build-other/lib.so" "$scratch/stray.h"; do
  grep -qF "UNPACKAGED: $outsider " <<<"$output" ||
    fail "$outsider not reported: $output"
done
grep -qF "$build/bin/tool" <<<"$output" &&
  fail "the build's own file was reported: $output"

[ "$failures" = 0 ] && echo "the build folder's own files pass; others do not"
[ "$failures" = 0 ]
