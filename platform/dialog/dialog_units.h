// Dialog units to pixels, in one place.
//
// Templates measure in dialog units: a quarter of the font's average
// character width across, an eighth of its height down. Every template is
// laid out with the base units of 8-point "MS Sans Serif" at 96 dpi,
// 6 x 13 pixels, whatever font it names: the font and point size are kept
// for the renderer, but the layout stays the one the dialog was designed
// with. Each value is rounded to the nearest pixel, halves away from zero,
// as MulDiv rounds.
#pragma once

#include "dialog/dialog_area.h"

namespace kolm::platform {

constexpr int dialog_base_x = 6;  // pixels per 4 horizontal dialog units
constexpr int dialog_base_y = 13; // pixels per 8 vertical dialog units

// The rectangle (left, top, right, bottom) of an item at (x, y) of size
// (cx, cy) in dialog units; position and size are converted separately.
RECT dialog_units_to_pixels(int x, int y, int cx, int cy);

} // namespace kolm::platform
