#pragma once
// TextLabel: a line of text drawn with plain GL in the view's pixel space.
// The text is rasterised once by Qt into an image and drawn as pixels, so no
// font machinery touches the GL state. Without a Qt GUI application (no font
// database) nothing is drawn.
//
// Looks: plain light text; on a dark translucent ground (readable over the
// particles); turned a quarter to the left (reads bottom to top, for a label
// along a vertical slider). Cost: one rasterisation per new text, size or
// look; a draw is one pixel transfer.
#include <QImage>
#include <string>

class TextLabel {
public:
    enum Look { Plain = 0, Ground = 1, Vertical = 2 };

    TextLabel() = default;
    // `look`: Plain or a combination of Ground and Vertical.
    void setText(const std::string& text, int pixelSize, int look = Plain);
    // setText at pixelSize or smaller, down to 8 pixels, so that the label's
    // length (its height when Vertical) is at most maxLength.
    void fitText(const std::string& text, int pixelSize, int look, int maxLength);
    const std::string& getText() const { return text; }
    int width() const { return image.width(); }
    int height() const { return image.height(); }
    // Draws with the lower-left corner at view pixel (x, y).
    void draw(double x, double y) const;

private:
    std::string text;
    int pixelSize = 0;
    int look = Plain;
    QImage image; // RGBA, rows bottom-up
    // What fitText was last asked for; the same request changes nothing.
    std::string fittedText;
    int fittedSize = 0, fittedLook = 0, fittedLength = -1;
};
