#pragma once
// ButtonStrategy: a press (of any stroke kind) on an enabled button runs its
// action once; moves and the release do nothing.
#include "framework/ombra/VisComponentStrategy.h"

#include <functional>

class ButtonStrategy : public VisComponentStrategy {
public:
    explicit ButtonStrategy(std::function<void()> action) : action(std::move(action)) {}
    bool apply(VisComponent* component, const OmbraEvent& event, const EventKind& kind) override;

private:
    std::function<void()> action;
};
