#pragma once
// TextPanel: a table of text in two columns (what to press, what it does) on
// a dark translucent ground, drawn with plain GL in the view's pixel space
// like TextLabel. A row with an empty second column is a heading.
//
// In: the rows and a largest rectangle. Out: the panel at the largest font
// size from the asked one down to 8 pixels that fits the rectangle (at the
// smallest size it may still be larger). Cost: a few rasterisations when the
// rows or the rectangle change, one pixel transfer per draw.
#include <QImage>

#include <string>
#include <utility>
#include <vector>

class TextPanel {
public:
    using Row = std::pair<std::string, std::string>;

    void setRows(std::vector<Row> rows);
    const std::vector<Row>& getRows() const { return rows; }
    // Rasterises at pixelSize or less so that the panel fits maxWidth x maxHeight.
    void fit(int pixelSize, int maxWidth, int maxHeight);
    int width() const { return image.width(); }
    int height() const { return image.height(); }
    // Draws with the lower-left corner at view pixel (x, y).
    void draw(double x, double y) const;

private:
    void rasterise(int pixelSize);

    std::vector<Row> rows;
    int fittedSize = 0, fittedWidth = -1, fittedHeight = -1;
    QImage image; // RGBA, rows bottom-up
};
