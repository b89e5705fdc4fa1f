#pragma once
// SliderComponent: a slider for a value in [minimum, maximum] drawn as a
// track with a knob. It runs along the longer side of its rectangle: bottom
// to top when taller than wide, left to right otherwise.
#include "framework/ombra/VisComponent.h"

class SliderComponent : public VisComponent {
public:
    SliderComponent(int id, double minimum, double maximum, double value, VisComponentStrategy* strategy);
    void render() override;

    double getValue() const { return value; }
    // Clamped into the range.
    void setValue(double v);
    double getMinimum() const { return minimum; }
    double getMaximum() const { return maximum; }
    bool isVertical() const { return getHeight() > getWidth(); }
    // The value under view pixel (x, y), clamped into the range.
    double valueAt(double x, double y) const;

private:
    double minimum, maximum, value;
};
