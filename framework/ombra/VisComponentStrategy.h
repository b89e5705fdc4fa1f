#pragma once
// VisComponentStrategy: what a component does with the events aimed at it.
// Components differ in looks; what a press, a drag or a release means lives in
// their strategy, so one component kind can serve several controls.
#include "framework/ombra/EventKind.h"

class OmbraEvent;
class VisComponent;

class VisComponentStrategy {
public:
    virtual ~VisComponentStrategy() = default;

    // Handles one event for `component`; `kind` is the event's type decoded.
    // Returns true when something visible changed and a repaint is wanted.
    virtual bool apply(VisComponent* component, const OmbraEvent& event, const EventKind& kind) = 0;
};
