// numpy arrays <-> host images. Arrays are rows top-down, as numpy shows
// pictures; host images are y-up. An array of H rows and W columns covers
// the pixels (0, 0, W, H), its first row being row H - 1, as ofxrender
// reads a file.
#pragma once

#include <pybind11/numpy.h>

#include "ofxhost/Host.h"

namespace ofxpy {

// The array's pixels as a source image: H x W x 4 (RGBA), H x W x 1 or
// H x W (alpha) of uint8, uint16 or float32. A C-contiguous, aligned,
// writable array is handed over as it lies, with negative row bytes (the
// image holds a reference to it); others are copied into such rows first.
// Throws TypeError for another dtype and ValueError for another shape.
ofxhost::ImagePtr imageFromArray(const pybind11::array &pixels);

// An empty image for an output of these bounds, laid out like the source
// images, so that arrayOfImage can show it without a copy.
ofxhost::ImagePtr outputImage(const OfxRectI &bounds, ofxhost::BitDepth depth,
                              ofxhost::Components components);

// The image's pixels as an array over the image's own memory (kept alive
// by the array), rows top-down. An alpha image is H x W when flat is set,
// H x W x 1 otherwise. The image must have been made by outputImage.
pybind11::array arrayOfImage(const ofxhost::ImagePtr &image, bool flat);

} // namespace ofxpy
