// The blend of a run of visible-or-not RGBA pixels of one row, in vector
// lanes. Every stored bit is the one the per-pixel formula described in
// FillProcessor.h gives: the lanes run the same double operations in the
// same order, and IEEE division, square root, multiplication, addition and
// conversion round alike in a lane and in a scalar register.
#pragma once

namespace tintrow {

// What the blend needs besides the pixels and their column terms.
struct FillRowBlend {
  bool radial = false;
  bool flat = true;     // t = 0 everywhere
  double divisor = 1.0; // dx² + dy² (linear) or its root (radial)
  double rowTerm = 0.0; // the row's part of the factor
  double start[3] = {0.0, 0.0, 0.0};
  double span[3] = {0.0, 0.0, 0.0}; // end - start
};

// Blends `count` RGBA pixels from src into dst (which may be src itself);
// columnTerms holds one term per pixel.
template <class PIX>
using FillRowBlender = void(const FillRowBlend &blend,
                            const double *columnTerms, const PIX *src,
                            int count, PIX *dst);

// The blender of the vector path in use now (see simd/SimdPath.h). Chosen
// once per band rather than per row: the choice reads the environment.
template <class PIX> FillRowBlender<PIX> *fillRowBlender();

template <> FillRowBlender<unsigned char> *fillRowBlender<unsigned char>();
template <> FillRowBlender<unsigned short> *fillRowBlender<unsigned short>();
template <> FillRowBlender<float> *fillRowBlender<float>();

} // namespace tintrow
