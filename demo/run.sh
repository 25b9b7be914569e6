#!/usr/bin/env bash
# Renders the sample pictures in demo/inputs through every effect of the
# project at a few settings, into BUILD/demo, and prints the paths.
#   demo/run.sh [BUILD]      (BUILD defaults to ./build; `make demo` runs it)
# Effects whose bundle has not been built are skipped with a note.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
tool="$build/bin/ofxrender"
bundles="$build/bundles"
inputs="$here/inputs"
out="$build/demo"

if [ ! -x "$tool" ]; then
  echo "demo: $tool is missing; build first (make build)" >&2
  exit 1
fi
mkdir -p "$out"
written=()

# render NAME PLUGIN INPUT [ofxrender options...]
render() {
  local name="$1" plugin="$2" input="$3"
  shift 3
  "$tool" render --plugin-path "$bundles" "$plugin" "$inputs/$input" \
    "$out/$name" "$@"
  written+=("$out/$name")
}

have() { [ -d "$bundles/$1.ofx.bundle" ]; }

if have Rimlet; then
  render outline-default.png qoutline sample.png
  render outline-red-best.png qoutline sample.png \
    --set outlineColor=1,0.1,0.1,1 --set outlineWidth=6 \
    --set "quality=Best (Highest Quality)"
  render outline-black-draft-16bit.tif qoutline sample16.tif \
    --set outlineColor=0,0,0,1 --set outlineWidth=3 --set quality=0
  # EXR keeps the outline drawn outside the frame in its data window; the
  # PNG beside it asks for the same with --overscan.
  render outline-wide-float.exr qoutline samplef.exr \
    --set outlineColor=0.2,0.4,1,1 --set outlineWidth=14
  render outline-wide-overscan.png qoutline sample.png \
    --set outlineColor=0.2,0.4,1,1 --set outlineWidth=14 --overscan
  render outline-alpha.png qoutline sample.png --alpha --set outlineWidth=4
  # An animated width: frame N at time N, keys interpolated in between.
  # Every frame keeps the sample's 480x270 format.
  "$tool" render --plugin-path "$bundles" qoutline "$inputs/sample.png" \
    "$out/outline-grow.####.png" --frames 0-4 \
    --key outlineWidth@0=1 --key outlineWidth@4=12 \
    --set outlineColor=1,0.5,0,1
  for n in 0000 0001 0002 0003 0004; do written+=("$out/outline-grow.$n.png"); done
else
  echo "demo: skipping Q_Outline (qoutline): $bundles/Rimlet.ofx.bundle is not built"
fi

if have Tintrow; then
  render gradient-default.png qgradient sample.png
  render gradient-radial.png qgradient sample.png \
    --set gradientType=Radial --set startColor=1,1,0.2,1 \
    --set endColor=0.5,0,0.8,1 --set startPosition=0.5,0.5 \
    --set endPosition=1,1
  render gradient-vertical-16bit.tif qgradient sample16.tif \
    --set startPosition=0.5,0 --set endPosition=0.5,1 \
    --set startColor=0,0.8,0.3,1 --set endColor=1,1,1,1
  render gradient-float.exr qgradient samplef.exr --set gradientType=1
else
  echo "demo: skipping Q_Gradient (qgradient): $bundles/Tintrow.ofx.bundle is not built"
fi

echo "demo: inputs in $inputs"
if [ ${#written[@]} -eq 0 ]; then
  echo "demo: no effect is built yet, so nothing was rendered"
  exit 0
fi
echo "demo: rendered ${#written[@]} pictures:"
printf '  %s\n' "${written[@]}"
