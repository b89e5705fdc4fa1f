#include "framework/ombra/ButtonComponent.h"

#include <osg/GL>

#include <algorithm>
#include <cmath>

ButtonComponent::ButtonComponent(int id, Icon icon, VisComponentStrategy* strategy)
    : VisComponent(id, strategy), icon(icon)
{
}

void ButtonComponent::render()
{
    if (!isVisible()) return;
    const double l = getLeft(), b = getBottom(), w = getWidth(), h = getHeight();
    // A small gap keeps stacked buttons apart.
    const double gap = std::min(w, h) * 0.08;
    const double x0 = l + gap, y0 = b + gap, x1 = l + w - gap, y1 = b + h - gap;

    glBegin(GL_QUADS);
    if (!enabled)
        glColor4f(0.18f, 0.19f, 0.22f, 1.0f);
    else if (isHighlighted())
        glColor4f(0.95f, 0.6f, 0.15f, 1.0f);
    else if (selected)
        glColor4f(0.2f, 0.45f, 0.85f, 1.0f);
    else
        glColor4f(0.3f, 0.33f, 0.4f, 1.0f);
    glVertex2d(x0, y0);
    glVertex2d(x1, y0);
    glVertex2d(x1, y1);
    glVertex2d(x0, y1);
    glEnd();

    // The word takes the lower part of the button when there is an icon.
    double iconBottom = y0;
    if (!text.empty()) {
        if (!label) label.reset(new TextLabel);
        const double room = x1 - x0 - 4.0;
        const int wanted = static_cast<int>(std::min(24.0, (y1 - y0) * (icon == TextOnly ? 0.45 : 0.3)));
        // Fitted once per word and size, not every frame.
        if (label->getText() != text || wanted != labelWanted || room != labelRoom) {
            labelWanted = wanted;
            labelRoom = room;
            int size = wanted;
            label->setText(text, size);
            while (size > 8 && label->width() > room) label->setText(text, --size);
        }
        const double ty = icon == TextOnly ? (y0 + y1 - label->height()) * 0.5 : y0 + 2.0;
        label->draw(std::max(x0, (x0 + x1 - label->width()) * 0.5), ty);
        iconBottom = ty + label->height();
        if (icon == TextOnly) return;
    }
    // Icon in a square centred in the button (above the word).
    const double s = std::min(x1 - x0, y1 - iconBottom) * 0.6;
    const double cx = (x0 + x1) * 0.5, cy = (iconBottom + y1) * 0.5;
    glLineWidth(static_cast<float>(std::max(1.5, s * 0.1)));
    glColor4f(enabled ? 0.95f : 0.45f, enabled ? 0.95f : 0.45f, enabled ? 0.95f : 0.45f, 1.0f);
    if (icon == StartIcon) {
        // A play triangle: the trial begins.
        glBegin(GL_TRIANGLES);
        glVertex2d(cx - s * 0.35, cy - s * 0.45);
        glVertex2d(cx + s * 0.45, cy);
        glVertex2d(cx - s * 0.35, cy + s * 0.45);
        glEnd();
    } else if (icon == DoneIcon) {
        // A check mark: the selection is final.
        glBegin(GL_LINE_STRIP);
        glVertex2d(cx - s * 0.45, cy);
        glVertex2d(cx - s * 0.1, cy - s * 0.35);
        glVertex2d(cx + s * 0.45, cy + s * 0.4);
        glEnd();
    } else if (icon == ClearIcon) {
        glBegin(GL_LINES);
        glVertex2d(cx - s * 0.5, cy - s * 0.5);
        glVertex2d(cx + s * 0.5, cy + s * 0.5);
        glVertex2d(cx - s * 0.5, cy + s * 0.5);
        glVertex2d(cx + s * 0.5, cy - s * 0.5);
        glEnd();
    } else {
        // A half-circle arrow turning back (undo) or forward (redo).
        const double dir = icon == UndoIcon ? 1.0 : -1.0;
        const double r = s * 0.4;
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i <= 16; ++i) {
            const double a = -M_PI * 0.5 + M_PI * i / 16.0;
            glVertex2d(cx + dir * r * std::cos(a), cy + r * std::sin(a));
        }
        glVertex2d(cx - dir * r * 0.6, cy + r);
        glEnd();
        const double tipX = cx - dir * r * 0.6, tipY = cy + r;
        glBegin(GL_TRIANGLES);
        glVertex2d(tipX - dir * r * 0.5, tipY);
        glVertex2d(tipX, tipY + r * 0.4);
        glVertex2d(tipX, tipY - r * 0.4);
        glEnd();
    }
    glLineWidth(1.0f);
}
