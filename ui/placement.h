// Where a window opens: its design place, moved as little as needed to lie
// inside the work area of its monitor. Portable, so that the rule is tested
// natively too.
#pragma once

namespace kestro {

struct Box {
    int left, top, right, bottom;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// The top-left corner for a window of `size`'s width and height wanted at
// `size`'s own corner: moved back so that it ends inside `area`, and never
// past the area's left or top edge, so that a window larger than the area
// still shows its caption and its system menu.
inline void PlaceInside(const Box& area, Box* window) {
    const int width = window->Width(), height = window->Height();
    int left = window->left, top = window->top;
    if (left + width > area.right) left = area.right - width;
    if (top + height > area.bottom) top = area.bottom - height;
    if (left < area.left) left = area.left;
    if (top < area.top) top = area.top;
    *window = {left, top, left + width, top + height};
}

// A length of the 96-DPI design at `dpi`, rounded to the nearest pixel as
// MulDiv rounds (halves away from zero).
constexpr int ScaleForDpi(int pixels, int dpi) {
    const long long product = static_cast<long long>(pixels) * dpi;
    return static_cast<int>(product >= 0 ? (product + 48) / 96 : -((-product + 48) / 96));
}

}  // namespace kestro
