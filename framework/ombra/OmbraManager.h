#pragma once
// OmbraManager: what every input source talks to. Presses are hit-tested with
// getComponentAt and then delivered with processEvent; moves and releases are
// delivered without a component and go to the component that took the press.
#include "framework/ombra/OmbraEvent.h"

#include <memory>

class VisComponent;

class OmbraManager {
public:
    virtual ~OmbraManager() = default;

    virtual void processEvent(OmbraEvent* event, VisComponent* component) = 0;
    // The component under view pixel (x, y), null outside every component.
    // `touch`: the pointer is a finger, pen or mouse (the view always passes
    // true); every pointer is hit-tested alike.
    virtual VisComponent* getComponentAt(double x, double y, bool touch) = 0;
    // The component with this id wants a repaint.
    virtual void addToUpdateList(int id) = 0;
    // The events that follow come from a pointer with a keyboard beside it
    // (the Qt mouse, which has its own lasso keys) or without one (fingers,
    // pen, extra mice). The view says so before each event it sends.
    virtual void setPointerHasKeyboard(bool) {}

    // How every sender hands over one event: built here, owned for exactly
    // the length of the call (also if it throws); the component under a
    // press goes beside the event, never inside it.
    void deliver(unsigned type, int id, double x, double y, VisComponent* component)
    {
        const std::unique_ptr<OmbraEvent> event(new OmbraEvent(type, id, x, y, 0.0, nullptr, 1));
        processEvent(event.get(), component);
    }
};
