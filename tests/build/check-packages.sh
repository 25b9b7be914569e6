#!/usr/bin/env bash
# Checks that every file and folder the configured build takes from the
# system (listed by CMake in build-references.txt) belongs to a Debian
# package that `make deps` installs, directly or as a dependency. A package
# installed by hand on a developer's machine would otherwise let the build
# pass there and fail on a fresh one.
#
#   check-packages.sh REFERENCES_FILE MAKEFILE
#
# The package list is read from the Makefile (`make print-build-packages`),
# so dropping a needed package there fails this check. Files under the build
# folder (the folder holding REFERENCES_FILE, where CMake writes it) are the
# build's own: an out-of-tree build folder is no more installed by hand than
# an in-tree one.
# Exits 77 (skipped) where dpkg is not the package manager.
set -uo pipefail

references="$1"
makefile="$2"
if ! command -v dpkg-query >/dev/null || ! command -v apt-cache >/dev/null; then
  echo "not a Debian system: package check skipped"
  exit 77
fi
if [ ! -s "$references" ]; then
  echo "no build references in $references"
  exit 1
fi

packages=$(make --no-print-directory -s -C "$(dirname "$makefile")" \
  -f "$(basename "$makefile")" print-build-packages) || exit 1
# The packages `make deps` installs and everything they depend on; a
# virtual package counts through its installed providers (the lines
# indented by four spaces).
# shellcheck disable=SC2086
closure=$(apt-cache depends --recurse --installed --no-recommends \
    --no-suggests --no-conflicts --no-breaks --no-replaces --no-enhances $packages \
  | grep -v '^  [A-Z]' | sed 's/^ *//' | tr -d '<>' | sed 's/:.*//' | sort -u)
in_closure() { grep -qxF "$1" <<<"$closure"; }

build_dir=$(realpath -m "$(dirname "$references")")
in_build_dir() {
  local resolved
  resolved=$(realpath -m "$1")
  [ "$resolved" = "$build_dir" ] || [[ "$resolved" == "$build_dir"/* ]]
}

failures=0
while IFS=$'\t' read -r origin path; do
  [ -n "$path" ] || continue
  in_build_dir "$path" && continue
  if [ ! -e "$path" ]; then
    echo "MISSING: $path (used by $origin) does not exist; the package that provides it is not installed by make deps"
    failures=$((failures + 1))
    continue
  fi
  owners=$(dpkg-query -S "$path" 2>/dev/null || dpkg-query -S "$(realpath "$path")" 2>/dev/null)
  owners=$(grep -v '^diversion by' <<<"$owners" | sed 's|: /.*||' \
    | tr ',' '\n' | sed 's/^ *//; s/:.*//' | sort -u)
  if [ -z "$owners" ]; then
    echo "UNPACKAGED: $path (used by $origin) belongs to no Debian package; it was installed by hand"
    failures=$((failures + 1))
    continue
  fi
  ok=0
  for owner in $owners; do
    if in_closure "$owner"; then ok=1; break; fi
  done
  if [ "$ok" = 0 ]; then
    echo "NOT INSTALLED BY make deps: $path (used by $origin) comes from package" \
      "$(tr '\n' ' ' <<<"$owners" | sed 's/ $//'); add it to the Makefile's package lists"
    failures=$((failures + 1))
  fi
done <"$references"

if [ "$failures" -gt 0 ]; then
  echo "$failures build reference(s) not covered by make deps"
  exit 1
fi
echo "every build reference comes from a package make deps installs ($(grep -c . "$references") checked)"
