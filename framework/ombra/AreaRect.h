#pragma once
// AreaRect: a rectangle of the view as the configuration gives it: centre x,
// centre y, width and height in view pixels, origin at the lower left.
struct AreaRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    AreaRect() = default;
    AreaRect(int cx, int cy, int w, int h) : x(cx), y(cy), width(w), height(h) {}

    double left() const { return x - width * 0.5; }
    double bottom() const { return y - height * 0.5; }
    bool contains(double px, double py) const
    {
        return width > 0 && height > 0 && px >= left() && px < left() + width && py >= bottom() &&
               py < bottom() + height;
    }
};
