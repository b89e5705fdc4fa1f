#pragma once
// SliderStrategy: a press or a drag moves the slider's value to the pointer
// and reports it; the release reports the final value once more only when it
// differs, so a drag re-thresholds the selection as it goes.
#include "framework/ombra/VisComponentStrategy.h"

#include <functional>

class SliderStrategy : public VisComponentStrategy {
public:
    explicit SliderStrategy(std::function<void(double)> onChange) : onChange(std::move(onChange)) {}
    bool apply(VisComponent* component, const OmbraEvent& event, const EventKind& kind) override;

private:
    std::function<void(double)> onChange;
};
