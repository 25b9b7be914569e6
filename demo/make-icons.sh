#!/usr/bin/env bash
# Redraws each effect's icon, the picture hosts show beside its name, into
# the effect's resources/ folder: IDENTIFIER.png (128 x 128) and
# IDENTIFIER.svg. The build copies them into the bundles.
#   demo/make-icons.sh [BUILD]     (BUILD defaults to ./build)
# Needs qfx-demo-pictures built in BUILD.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
pictures="$build/bin/qfx-demo-pictures"
root="$(cd "$here/.." && pwd)"

if [ ! -x "$pictures" ]; then
  echo "make-icons: $pictures is missing; build qfx-demo-pictures first" >&2
  exit 1
fi

# icon DRAWING FOLDER IDENTIFIER: the file names must be the plug-in's
# identifier, which is how hosts find them.
icon() {
  local drawing="$1" folder="$root/$2/resources" identifier="$3"
  mkdir -p "$folder"
  "$pictures" icon "$drawing" "$folder/$identifier.png" "$folder/$identifier.svg"
  echo "make-icons: wrote $folder/$identifier.png and .svg"
}

icon outline outline net.qfx.qoutline
icon gradient gradient net.qfx.qgradient
