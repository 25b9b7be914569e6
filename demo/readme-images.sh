#!/usr/bin/env bash
# Regenerates the README's pictures in docs/images/: the sample input beside
# renders of each effect, over a checkerboard so transparency shows.
#   demo/readme-images.sh [BUILD]     (BUILD defaults to ./build)
# Needs ofxrender, qfx-demo-pictures and both effect bundles built in BUILD.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
tool="$build/bin/ofxrender"
sheet="$build/bin/qfx-demo-pictures"
bundles="$build/bundles"
input="$here/inputs/sample.png"
images="$here/../docs/images"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for bundle in Rimlet Tintrow; do
  if [ ! -d "$bundles/$bundle.ofx.bundle" ]; then
    echo "readme-images: $bundle is not built in $build" >&2
    exit 1
  fi
done
mkdir -p "$images"

# render OUTPUT PLUGIN [options...]: the input's area only, so the panels of
# a sheet line up.
render() {
  local output="$1" plugin="$2"
  shift 2
  "$tool" render --plugin-path "$bundles" --crop "$plugin" "$input" \
    "$work/$output" "$@"
}

# One panel per quality, same colour and width, so the levels compare.
for quality in 0 1 2; do
  render "outline-q$quality.png" qoutline --set outlineColor=1,0.1,0.1,1 \
    --set outlineWidth=4 --set quality=$quality
done
"$sheet" sheet "$images/outline.png" "$input" "$work/outline-q0.png" \
  "$work/outline-q1.png" "$work/outline-q2.png"

render gradient-linear.png qgradient
render gradient-radial.png qgradient --set gradientType=Radial \
  --set startColor=1,1,0.2,1 --set endColor=0.5,0,0.8,1 \
  --set startPosition=0.5,0.5 --set endPosition=1,1
"$sheet" sheet "$images/gradient.png" "$input" "$work/gradient-linear.png" \
  "$work/gradient-radial.png"

echo "readme-images: wrote $images/outline.png and $images/gradient.png"
