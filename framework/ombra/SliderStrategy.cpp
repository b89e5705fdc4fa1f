#include "framework/ombra/SliderStrategy.h"

#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/SliderComponent.h"

bool SliderStrategy::apply(VisComponent* component, const OmbraEvent& event, const EventKind& kind)
{
    auto* slider = dynamic_cast<SliderComponent*>(component);
    if (!slider || kind.phase == EventKind::NoPhase) return false;
    if (kind.phase == EventKind::End) slider->setHighlighted(false);
    const double v = slider->valueAt(event.x, event.y);
    // Each report re-thresholds the newest lasso; skip the ones that would
    // recompute the same selection.
    if (v == slider->getValue() && kind.phase != EventKind::Start) return kind.phase == EventKind::End;
    slider->setValue(v);
    if (onChange) onChange(slider->getValue());
    return true;
}
