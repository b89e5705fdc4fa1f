#include "framework/ombra/ButtonStrategy.h"

#include "framework/ombra/ButtonComponent.h"

bool ButtonStrategy::apply(VisComponent* component, const OmbraEvent&, const EventKind& kind)
{
    if (kind.phase == EventKind::End) {
        component->setHighlighted(false);
        return true;
    }
    if (kind.phase != EventKind::Start) return false;
    auto* button = dynamic_cast<ButtonComponent*>(component);
    if (button && !button->isEnabled()) return false;
    if (action) action();
    return true;
}
