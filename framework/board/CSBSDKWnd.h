#pragma once
// CSBSDKWnd: the window a board is attached to. It holds the native window
// handle and the QObject that stands for the window: board messages are
// posted to that object as events of type CSBSDK2::SBSDK_NEW_MESSAGE, and
// contacts are scaled to its size (its "size" property, which every widget
// has) unless SetSize gave one.
#include <QObject>
#include <QPointer>
#include <QtGlobal>

class CSBSDKWnd {
public:
    // handle: the native window id (a WId, which is a quintptr).
    CSBSDKWnd(quintptr handle, QObject* window);
    explicit CSBSDKWnd(QObject* window);

    quintptr Handle() const { return handle; }
    QObject* Window() const { return window.data(); }

    // Fixed size in pixels, for windows without a "size" property (tests).
    void SetSize(int width, int height);
    // Current size: the fixed one, else the window's "size" property, else 0.
    int Width() const;
    int Height() const;

private:
    quintptr handle = 0;
    QPointer<QObject> window;
    int fixedWidth = 0;
    int fixedHeight = 0;
};
