#pragma once

namespace kx {

// A position in global display coordinates: origin at the top left of the main display, y down.
struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// A screen's frame in the same coordinates.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    // Half-open on the far edges, as a pixel grid: (maxX, maxY) lies outside.
    bool contains(Point p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace kx
