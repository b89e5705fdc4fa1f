#include "framework/ombra/TextLabel.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <osg/GL>

void TextLabel::setText(const std::string& t, int size)
{
    if (t == text && size == pixelSize && (!image.isNull() || t.empty())) return;
    text = t;
    pixelSize = size;
    image = QImage();
    // Fonts need the GUI application's font database.
    if (t.empty() || size <= 0 || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QFont font;
    font.setPixelSize(size);
    const QString s = QString::fromStdString(t);
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance(s) + 4, h = metrics.height() + 2;
    QImage img(w, h, QImage::Format_RGBA8888);
    img.fill(Qt::transparent);
    QPainter painter(&img);
    painter.setFont(font);
    painter.setPen(QColor(235, 235, 240));
    painter.drawText(QRect(0, 0, w, h), Qt::AlignLeft | Qt::AlignVCenter, s);
    painter.end();
    // GL reads rows bottom-up.
    image = img.mirrored(false, true);
}

void TextLabel::draw(double x, double y) const
{
    if (image.isNull()) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glRasterPos2d(x, y);
    glDrawPixels(image.width(), image.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.constBits());
}
