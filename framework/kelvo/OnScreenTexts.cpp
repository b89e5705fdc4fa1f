#include "framework/kelvo/OnScreenTexts.h"

#include "framework/ombra/SliderComponent.h"

#include <osg/GL>

#include <algorithm>
#include <cstdio>
#include <sstream>

void OnScreenTexts::DrawMessage(double l, double b, double w, double h, double areaHeight, double viewWidth)
{
    if (message.empty()) return;
    if (message != fittedMessage || w != fittedWidth) {
        fittedMessage = message;
        fittedWidth = w;
        int size = static_cast<int>(std::min(h * 0.7, std::max(14.0, areaHeight * 0.04)));
        // Shrunk to fit on one line, but not below a size one reads at a
        // glance; beyond that the words wrap onto further lines.
        const int readable = std::min(size, kReadableMessagePixels);
        messageLines.assign(1, TextLabel());
        messageLines[0].setText(message, size);
        while (size > readable && messageLines[0].width() > w) messageLines[0].setText(message, --size);
        if (messageLines[0].width() > w) {
            messageLines.clear();
            std::istringstream words(message);
            std::string word, line;
            TextLabel probe;
            auto addLine = [&](const std::string& text) {
                messageLines.emplace_back();
                messageLines.back().setText(text, size);
            };
            while (words >> word) {
                const std::string longer = line.empty() ? word : line + " " + word;
                probe.setText(longer, size);
                if (probe.width() > w && !line.empty()) {
                    addLine(line);
                    line = word;
                } else {
                    line = longer;
                }
            }
            if (!line.empty()) addLine(line);
        }
    }
    // The lines centred in the band; more than it holds reach down from its top.
    double total = 0.0;
    for (const TextLabel& line : messageLines) total += line.height();
    double top = total <= h ? b + (h + total) * 0.5 : b + h;
    for (const TextLabel& line : messageLines) {
        double x = l + (w - line.width()) * 0.5;
        x = std::max(0.0, std::min(x, viewWidth - static_cast<double>(line.width())));
        top -= line.height();
        line.draw(x, std::max(0.0, top));
    }
}

void OnScreenTexts::DrawOverArea(double l, double b, double w, double h, bool showStatus)
{
    if (outline.size() > 1) {
        glColor4f(1.0f, 0.85f, 0.2f, 0.9f);
        glLineWidth(2.0f);
        glBegin(GL_LINE_LOOP);
        for (const osg::Vec2f& p : outline) glVertex2f(p.x(), p.y());
        glEnd();
    }
    if (!caption.empty()) {
        const int size = static_cast<int>(std::max(12.0, h * 0.025));
        captionLabel.setText(caption, size);
        captionLabel.draw(l + size * 0.5, std::max(0.0, b + h - captionLabel.height() - size * 0.5));
    }
    if (w <= 0 || h <= 0) return;
    const int size = static_cast<int>(std::max(11.0, std::min(16.0, h * 0.03)));
    const double inset = std::max(4.0, size * 0.5);
    double above = b + inset;
    if (!statusLine.empty() && showStatus) {
        statusLabel.fitText(statusLine, size, TextLabel::Ground, static_cast<int>(w - 2 * inset));
        statusLabel.draw(l + inset, b + inset);
        above += statusLabel.height() + inset;
    }
    if (!notice.empty()) {
        noticeLabel.fitText(notice, size + 4, TextLabel::Ground, static_cast<int>(w - 2 * inset));
        noticeLabel.draw(l + std::max(0.0, (w - noticeLabel.width()) * 0.5), std::max(above, b + h * 0.12));
    }
    if (helpShown) {
        helpPanel.fit(size + 2, static_cast<int>(w - 2 * inset), static_cast<int>(h - 2 * inset));
        helpPanel.draw(l + std::max(0.0, (w - helpPanel.width()) * 0.5),
                       b + std::max(0.0, (h - helpPanel.height()) * 0.5));
    }
}

void OnScreenTexts::DrawSliderLabels(const SliderComponent& slider, const std::string& name, double labelHeight,
                                     double areaCentreX, double viewWidth)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f", slider.getValue());
    thresholdLabel.setText(text, static_cast<int>(std::max(10.0, labelHeight * 0.8)));
    const double x = slider.getLeft() + (slider.getWidth() - thresholdLabel.width()) * 0.5;
    thresholdLabel.draw(std::max(0.0, x), slider.getBottom() + slider.getHeight());
    // The name runs along the slider on the side away from the 3D area, or
    // on the slider's own outer edge when the view leaves no room there.
    const bool vertical = slider.isVertical();
    const int size = static_cast<int>(std::max(10.0, labelHeight * 0.7));
    sliderNameLabel.fitText(name, size, vertical ? TextLabel::Vertical : TextLabel::Plain,
                            static_cast<int>(vertical ? slider.getHeight() : slider.getWidth()));
    if (vertical) {
        const bool outerLeft = slider.getLeft() + slider.getWidth() * 0.5 < areaCentreX;
        double nx = outerLeft ? slider.getLeft() - sliderNameLabel.width() - 2 : slider.getLeft() + slider.getWidth() + 2;
        nx = std::max(0.0, std::min(nx, viewWidth - static_cast<double>(sliderNameLabel.width())));
        sliderNameLabel.draw(nx, slider.getBottom() + (slider.getHeight() - sliderNameLabel.height()) * 0.5);
    } else {
        sliderNameLabel.draw(slider.getLeft(), std::max(0.0, slider.getBottom() - sliderNameLabel.height()));
    }
}
