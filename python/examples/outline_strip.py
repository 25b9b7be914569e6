#!/usr/bin/env python3
"""Draws Q_Outline at several widths and its three qualities as one picture:
a row per quality, a column per width, each over the same input.

    PYTHONPATH=build/python python3 python/examples/outline_strip.py \\
        demo/inputs/sample.png strip.png

Reading and writing the files takes OpenImageIO's Python binding
(python3-openimageio); the rendering needs only numpy.
"""
import sys

import numpy as np
import OpenImageIO as oiio

import ofxhost

WIDTHS = [1.0, 4.0, 12.0]
QUALITIES = ["Draft", "Good", "Best"]
GAP = 8
BACKGROUND = np.array([0.2, 0.2, 0.2, 1.0], np.float32)


def read(path):
    image = oiio.ImageBuf(path)
    if image.has_error:
        sys.exit(f"cannot read {path}: {image.geterror()}")
    return image.get_pixels(oiio.FLOAT)  # premultiplied, rows top-down


def write(path, pixels):
    height, width, channels = pixels.shape
    image = oiio.ImageBuf(oiio.ImageSpec(width, height, channels, oiio.FLOAT))
    image.set_pixels(oiio.ROI(), pixels)
    if not image.write(path, oiio.UINT8):
        sys.exit(f"cannot write {path}: {image.geterror()}")


def main(source_path, strip_path, bundles="build/bundles"):
    source = read(source_path)
    fx = ofxhost.Host(plugin_path=[bundles]).instance("qoutline")
    fx.set(outlineColor=(1.0, 0.25, 0.1))
    # Every cell is as large as the widest outline's frame, the source in
    # its middle, so the cells line up.
    margin = int(np.ceil(max(WIDTHS)))
    cell_h = source.shape[0] + 2 * margin
    cell_w = source.shape[1] + 2 * margin
    strip = np.zeros((len(QUALITIES) * (cell_h + GAP) - GAP,
                      len(WIDTHS) * (cell_w + GAP) - GAP, 4), np.float32)
    for row, quality in enumerate(QUALITIES):
        for column, width in enumerate(WIDTHS):
            fx.set(outlineWidth=width, quality=quality)
            out = fx.render(source)
            x1, y1, x2, y2 = out.bounds
            # bounds are y up from the source's lower-left corner; the
            # array's first row is the top one, at y2.
            top = row * (cell_h + GAP) + margin - (y2 - source.shape[0])
            left = column * (cell_w + GAP) + margin + x1
            strip[top:top + y2 - y1, left:left + x2 - x1] = out.pixels
    # Premultiplied pixels over an opaque background.
    write(strip_path, strip + BACKGROUND * (1.0 - strip[..., 3:]))


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    main(*sys.argv[1:])
