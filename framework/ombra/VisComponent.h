#pragma once
// VisComponent: a rectangle of the view that receives events: an on-screen
// control or the 3D area. Its bounds are view pixels with the origin at the
// lower left, like the events. Its strategy decides what events do; the
// component owns it.
#include "framework/ombra/VisComponentStrategy.h"

#include <memory>

class VisComponent {
public:
    VisComponent(int id, VisComponentStrategy* strategy = nullptr);
    virtual ~VisComponent();
    VisComponent(const VisComponent&) = delete;
    VisComponent& operator=(const VisComponent&) = delete;

    // A press landed on the component (called by the view before the event).
    virtual void onHit();
    int getId() const { return id; }

    VisComponentStrategy* getStrategy() const { return strategy.get(); }
    void setStrategy(VisComponentStrategy* s) { strategy.reset(s); }

    void setBounds(double left, double bottom, double width, double height);
    bool contains(double x, double y) const;
    double getLeft() const { return left; }
    double getBottom() const { return bottom; }
    double getWidth() const { return width; }
    double getHeight() const { return height; }
    bool isVisible() const { return width > 0.0 && height > 0.0; }

    // Draws the component with plain GL in the view's pixel space (an
    // orthographic projection over the whole view). The base draws nothing.
    virtual void render();

    // Press feedback: set by onHit, cleared when the stroke ends.
    bool isHighlighted() const { return highlighted; }
    void setHighlighted(bool h) { highlighted = h; }

private:
    int id;
    std::unique_ptr<VisComponentStrategy> strategy;
    double left = 0.0, bottom = 0.0, width = 0.0, height = 0.0;
    bool highlighted = false;
};
