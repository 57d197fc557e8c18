// The outline's shape: the text's coverage widened by the outline's width,
// in time that follows the area it covers, whatever the width.
#ifndef IMGTEXT_DRAWING_OUTLINE_H
#define IMGTEXT_DRAWING_OUTLINE_H

#include <cmath>

#include "drawing/planes.h"

namespace imgtext {

// The outline's reach: a pixel of coverage m at distance d adds coverage
// r + m - d, so nothing farther than r + 1 matters.
inline int outline_reach(float width) { return width > 0.0f ? static_cast<int>(std::ceil(width)) + 1 : 0; }

// The text's coverage (mask, 0..1) widened by r pixels (0 < r <= 256) over
// out.at, which the caller has allocated (zeroed): each pixel p takes
// r + m(q) - |p - q| for the mask's pixel q that gives the most, clamped to
// 0..1. For a straight edge this is the exact coverage of the widened
// shape, and a pixel's partial coverage moves the edge by its fraction, so
// the outline stays antialiased. Beyond the planes it uses two 16-bit planes
// over the mask's columns and out's rows, and a few lines. False if memory
// ran out.
bool widen_coverage(const plane<float> &mask, float r, plane<float> &out);

}  // namespace imgtext

#endif
