#include "framework/ombra/TextLabel.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QTransform>
#include <osg/GL>

void TextLabel::setText(const std::string& t, int size, int l)
{
    if (t == text && size == pixelSize && l == look && (!image.isNull() || t.empty())) return;
    text = t;
    pixelSize = size;
    look = l;
    image = QImage();
    // Fonts need the GUI application's font database.
    if (t.empty() || size <= 0 || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QFont font;
    font.setPixelSize(size);
    const QString s = QString::fromStdString(t);
    const QFontMetrics metrics(font);
    // A ground leaves a margin of a third of the size around the text.
    const int margin = (look & Ground) ? size / 3 + 2 : 0;
    const int w = metrics.horizontalAdvance(s) + 4 + 2 * margin, h = metrics.height() + 2 + 2 * margin;
    QImage img(w, h, QImage::Format_RGBA8888);
    img.fill(Qt::transparent);
    QPainter painter(&img);
    if (look & Ground) painter.fillRect(img.rect(), QColor(0, 0, 0, 190));
    painter.setFont(font);
    painter.setPen(QColor(235, 235, 240));
    painter.drawText(QRect(margin, 0, w - margin, h), Qt::AlignLeft | Qt::AlignVCenter, s);
    painter.end();
    if (look & Vertical) img = img.transformed(QTransform().rotate(-90.0));
    // GL reads rows bottom-up.
    image = img.convertToFormat(QImage::Format_RGBA8888).mirrored(false, true);
}

void TextLabel::fitText(const std::string& t, int size, int l, int maxLength)
{
    if (t == fittedText && size == fittedSize && l == fittedLook && maxLength == fittedLength) return;
    fittedText = t;
    fittedSize = size;
    fittedLook = l;
    fittedLength = maxLength;
    setText(t, size, l);
    while (size > 8 && ((l & Vertical) ? height() : width()) > maxLength) setText(t, --size, l);
}

void TextLabel::draw(double x, double y) const
{
    if (image.isNull()) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glRasterPos2d(x, y);
    glDrawPixels(image.width(), image.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.constBits());
}
