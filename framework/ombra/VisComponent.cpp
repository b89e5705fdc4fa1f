#include "framework/ombra/VisComponent.h"

VisComponent::VisComponent(int id, VisComponentStrategy* strategy) : id(id), strategy(strategy) {}

VisComponent::~VisComponent() = default;

void VisComponent::onHit()
{
    highlighted = true;
}

void VisComponent::setBounds(double l, double b, double w, double h)
{
    left = l;
    bottom = b;
    width = w;
    height = h;
}

bool VisComponent::contains(double x, double y) const
{
    return isVisible() && x >= left && x < left + width && y >= bottom && y < bottom + height;
}

void VisComponent::render() {}
