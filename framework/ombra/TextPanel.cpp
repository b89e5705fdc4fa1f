#include "framework/ombra/TextPanel.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <osg/GL>

#include <algorithm>

namespace {
constexpr int SmallestSize = 8;
}

void TextPanel::setRows(std::vector<Row> r)
{
    if (r == rows) return;
    rows = std::move(r);
    fittedWidth = fittedHeight = -1;
    image = QImage();
}

void TextPanel::fit(int pixelSize, int maxWidth, int maxHeight)
{
    if (pixelSize == fittedSize && maxWidth == fittedWidth && maxHeight == fittedHeight) return;
    fittedSize = pixelSize;
    fittedWidth = maxWidth;
    fittedHeight = maxHeight;
    for (int size = pixelSize; size >= SmallestSize; --size) {
        rasterise(size);
        if (image.isNull() || (image.width() <= maxWidth && image.height() <= maxHeight)) return;
    }
}

void TextPanel::rasterise(int size)
{
    image = QImage();
    // Fonts need the GUI application's font database.
    if (rows.empty() || size <= 0 || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QFont font, heading;
    font.setPixelSize(size);
    heading.setPixelSize(size);
    heading.setBold(true);
    const QFontMetrics metrics(font), headingMetrics(heading);
    const int margin = size, gap = size * 3 / 2, line = metrics.height() + size / 5;
    int keys = 0, what = 0, wide = 0;
    for (const Row& r : rows) {
        const QString a = QString::fromStdString(r.first), b = QString::fromStdString(r.second);
        if (r.second.empty()) {
            wide = std::max(wide, headingMetrics.horizontalAdvance(a));
        } else {
            keys = std::max(keys, metrics.horizontalAdvance(a));
            what = std::max(what, metrics.horizontalAdvance(b));
        }
    }
    const int w = std::max(keys + gap + what, wide) + 2 * margin;
    const int h = static_cast<int>(rows.size()) * line + 2 * margin;
    QImage img(w, h, QImage::Format_RGBA8888);
    img.fill(QColor(0, 0, 0, 210));
    QPainter painter(&img);
    int y = margin;
    for (const Row& r : rows) {
        const QRect cell(margin, y, w - 2 * margin, line);
        if (r.second.empty()) {
            painter.setFont(heading);
            painter.setPen(QColor(250, 170, 60));
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(r.first));
        } else {
            painter.setFont(font);
            painter.setPen(QColor(150, 200, 255));
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(r.first));
            painter.setPen(QColor(235, 235, 240));
            painter.drawText(cell.adjusted(keys + gap, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::fromStdString(r.second));
        }
        y += line;
    }
    painter.end();
    // GL reads rows bottom-up.
    image = img.mirrored(false, true);
}

void TextPanel::draw(double x, double y) const
{
    if (image.isNull()) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glRasterPos2d(x, y);
    glDrawPixels(image.width(), image.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.constBits());
}
