#include "framework/board/CSBSDKWnd.h"

#include <QSize>
#include <QVariant>

CSBSDKWnd::CSBSDKWnd(quintptr h, QObject* w) : handle(h), window(w) {}

CSBSDKWnd::CSBSDKWnd(QObject* w) : window(w) {}

void CSBSDKWnd::SetSize(int width, int height)
{
    fixedWidth = width;
    fixedHeight = height;
}

int CSBSDKWnd::Width() const
{
    if (fixedWidth > 0) return fixedWidth;
    return window ? window->property("size").toSize().width() : 0;
}

int CSBSDKWnd::Height() const
{
    if (fixedHeight > 0) return fixedHeight;
    return window ? window->property("size").toSize().height() : 0;
}
