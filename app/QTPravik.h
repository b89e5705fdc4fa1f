#pragma once
// QTPravik: the program's only top-level window; the OpenGL view is its
// central widget. There is no menu and no tool bar: its six commands are
// window actions reached through application-wide shortcuts (Escape quits,
// Ctrl+F and Ctrl+M switch the two full-screen modes, Ctrl+C the cursor,
// Ctrl+T the two-mice mode).
//
// Window states: normal, Qt full screen on one monitor, and the
// multi-monitor mode, a frameless window stretched over the union of all
// screens. Leaving the multi-monitor mode (also by closing the window) gives
// back the exact former geometry and window flags.
#include <QMainWindow>
#include <QRect>

class QTConfiguration;
class QTKelvoWidgetGL;

class QTPravik : public QMainWindow {
    Q_OBJECT
public:
    explicit QTPravik(QTConfiguration* configuration);
    ~QTPravik() override;

    QTKelvoWidgetGL* getView() const { return view; }
    bool isMultiMonitorActive() const { return multiMonitorActive; }

public slots:
    void about();
    void toggleFullscreen();
    void toggleMultiMonitorFullscreen();
    void toggleCursor();
    void toggleTwomice();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void hideBars();
    // Restores the saved geometry and flags; reshow is false while closing.
    void leaveMultiMonitor(bool reshow);

    QTConfiguration* configuration; // not owned
    QTKelvoWidgetGL* view;          // owned
    bool multiMonitorActive = false;

    // Saved when the multi-monitor mode is entered.
    QRect savedGeometry;
    Qt::WindowFlags savedFlags;
};
