#include "framework/ombra/SliderComponent.h"

#include <osg/GL>

#include <algorithm>

namespace {
// Share of the rectangle's short side taken by the knob and the track.
constexpr double KnobShare = 0.8;
constexpr double TrackShare = 0.2;
} // namespace

SliderComponent::SliderComponent(int id, double minimum, double maximum, double value,
                                 VisComponentStrategy* strategy)
    : VisComponent(id, strategy), minimum(minimum), maximum(maximum), value(minimum)
{
    setValue(value);
}

void SliderComponent::setValue(double v)
{
    value = std::clamp(v, minimum, maximum);
}

double SliderComponent::valueAt(double x, double y) const
{
    // The knob's centre travels between half a knob from either end.
    const double along = isVertical() ? y - getBottom() : x - getLeft();
    const double length = isVertical() ? getHeight() : getWidth();
    const double knob = (isVertical() ? getWidth() : getHeight()) * KnobShare * 0.5;
    const double travel = length - 2.0 * knob;
    if (travel <= 0.0) return minimum;
    const double t = std::clamp((along - knob) / travel, 0.0, 1.0);
    return minimum + t * (maximum - minimum);
}

void SliderComponent::render()
{
    if (!isVisible()) return;
    const bool vertical = isVertical();
    const double l = getLeft(), b = getBottom(), w = getWidth(), h = getHeight();
    const double shortSide = vertical ? w : h;
    const double length = vertical ? h : w;
    const double knob = shortSide * KnobShare * 0.5;
    const double t = maximum > minimum ? (value - minimum) / (maximum - minimum) : 0.0;
    const double pos = knob + t * (length - 2.0 * knob);
    const double mid = shortSide * 0.5, half = shortSide * TrackShare * 0.5;

    auto quad = [&](double a0, double c0, double a1, double c1) {
        // a runs along the slider, c across it.
        if (vertical) {
            glVertex2d(l + c0, b + a0);
            glVertex2d(l + c1, b + a0);
            glVertex2d(l + c1, b + a1);
            glVertex2d(l + c0, b + a1);
        } else {
            glVertex2d(l + a0, b + c0);
            glVertex2d(l + a1, b + c0);
            glVertex2d(l + a1, b + c1);
            glVertex2d(l + a0, b + c1);
        }
    };
    glBegin(GL_QUADS);
    glColor4f(0.25f, 0.27f, 0.32f, 1.0f); // track
    quad(knob, mid - half, length - knob, mid + half);
    glColor4f(0.95f, 0.6f, 0.15f, 1.0f); // filled part: the threshold's share
    quad(knob, mid - half, pos, mid + half);
    if (isHighlighted())
        glColor4f(1.0f, 0.85f, 0.4f, 1.0f);
    else
        glColor4f(0.85f, 0.87f, 0.9f, 1.0f);
    quad(pos - knob, mid - knob, pos + knob, mid + knob);
    glEnd();
}
