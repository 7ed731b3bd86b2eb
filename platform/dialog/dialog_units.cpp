#include "dialog/dialog_units.h"

#include <cstdint>

namespace kolm::platform {

namespace {

LONG scale(int value, int numerator, int denominator)
{
    const int64_t product = static_cast<int64_t>(value) * numerator;
    const int64_t half = denominator / 2;
    return static_cast<LONG>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

RECT dialog_units_to_pixels(int x, int y, int cx, int cy)
{
    const LONG left = scale(x, dialog_base_x, 4);
    const LONG top = scale(y, dialog_base_y, 8);
    return RECT { left, top, left + scale(cx, dialog_base_x, 4), top + scale(cy, dialog_base_y, 8) };
}

} // namespace kolm::platform
