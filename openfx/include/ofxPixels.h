#ifndef OFX_OFXPIXELS_H_INCLUDED
#define OFX_OFXPIXELS_H_INCLUDED

/* ofxPixels.h: part of this project's OpenFX C API, written from the published
 * standard. Names, values and layouts are binary compatible with it; the
 * comments are ours. Usable from C and C++. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Pixel layouts: components red, green, blue(, alpha), in that order. */
typedef struct OfxRGBAColourB {
  unsigned char r, g, b, a;
} OfxRGBAColourB;
typedef struct OfxRGBAColourS {
  unsigned short r, g, b, a;
} OfxRGBAColourS;
typedef struct OfxRGBAColourF {
  float r, g, b, a;
} OfxRGBAColourF;
typedef struct OfxRGBAColourD {
  double r, g, b, a;
} OfxRGBAColourD;
typedef struct OfxRGBColourB {
  unsigned char r, g, b;
} OfxRGBColourB;
typedef struct OfxRGBColourS {
  unsigned short r, g, b;
} OfxRGBColourS;
typedef struct OfxRGBColourF {
  float r, g, b;
} OfxRGBColourF;
typedef struct OfxRGBColourD {
  double r, g, b;
} OfxRGBColourD;

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXPIXELS_H_INCLUDED */
