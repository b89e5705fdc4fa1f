#pragma once
// TextLabel: a line of text drawn with plain GL in the view's pixel space.
// The text is rasterised once by Qt into an image and drawn as pixels, so no
// font machinery touches the GL state. Without a Qt GUI application (no font
// database) nothing is drawn.
#include <QImage>
#include <string>

class TextLabel {
public:
    TextLabel() = default;
    void setText(const std::string& text, int pixelSize);
    const std::string& getText() const { return text; }
    int width() const { return image.width(); }
    int height() const { return image.height(); }
    // Draws with the lower-left corner at view pixel (x, y).
    void draw(double x, double y) const;

private:
    std::string text;
    int pixelSize = 0;
    QImage image; // RGBA, rows bottom-up
};
