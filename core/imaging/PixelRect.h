// A rectangle as left, top, right and bottom edges, right and bottom exclusive:
// the width is right - left. Drawing arithmetic is written in these terms.
#pragma once

struct PixelRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
};
